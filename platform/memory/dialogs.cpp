// The dialog manager, scripted: DialogBoxParamA sends WM_INITDIALOG, then
// delivers the user's scripted keys and clicks as Windows' dialog manager
// turns them into messages (Enter, Esc, the close box, Tab, Alt+letter),
// until the procedure calls EndDialog. A dialog left open is a hang.
#include "platform/memory/machine.h"

#include <algorithm>
#include <cstdlib>

namespace memory_model {

namespace {

bool IsButton(const mem::Control& control)
{
    return control.kind == mem::PUSH_BUTTON || control.kind == mem::DEFAULT_PUSH_BUTTON;
}

std::shared_ptr<Dialog> OpenDialog(HWND hwnd)
{
    for (auto& dialog : M().openDialogs) {
        if (dialog->hwnd == hwnd) {
            return dialog;
        }
    }
    return std::shared_ptr<Dialog>();
}

// Whether a control's text carries the mnemonic "&letter" ("&&" is a plain
// ampersand).
bool HasMnemonic(const std::string& text, char letter)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] == '&') {
                ++i;
                continue;
            }
            return UpperChar(text[i + 1]) == UpperChar(letter);
        }
    }
    return false;
}

// Sends one message to the dialog's procedure, without the machine's lock:
// the procedure makes calls of its own.
INT_PTR Send(Call& c, DLGPROC procedure, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (procedure == nullptr) {
        return FALSE;
    }
    c.lock.unlock();
    INT_PTR result = procedure(hwnd, message, wParam, lParam);
    c.lock.lock();
    return result;
}

HWND ControlWindow(const Dialog& dialog, int id)
{
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        if (dialog.controls[i].id == id) {
            return dialog.controlWindows[i];
        }
    }
    return nullptr;
}

// A button pressed: the focus moves to it and the dialog gets its
// WM_COMMAND with BN_CLICKED.
void PressButton(Call& c, DLGPROC procedure, Dialog& dialog, int index)
{
    dialog.focus = index;
    Send(c, procedure, dialog.hwnd, WM_COMMAND, MAKEWPARAM(dialog.controls[index].id, BN_CLICKED),
         reinterpret_cast<LPARAM>(dialog.controlWindows[index]));
}

void SendCommand(Call& c, DLGPROC procedure, Dialog& dialog, int id)
{
    Send(c, procedure, dialog.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
         reinterpret_cast<LPARAM>(ControlWindow(dialog, id)));
}

void Note(const Dialog& dialog, const std::string& what)
{
    M().timeline.push_back(Number(dialog.process->id) + " [dialog " + Number(dialog.resourceId) + "] " +
                           what);
}

// Delivers one user action as the dialog manager would.
void Deliver(Call& c, DLGPROC procedure, Dialog& dialog, const mem::UserAction& action)
{
    const std::vector<mem::Control>& controls = dialog.controls;
    int count = static_cast<int>(controls.size());
    switch (action.kind) {
    case mem::PRESS_ENTER: {
        int index = -1;
        if (dialog.focus >= 0 && IsButton(controls[dialog.focus])) {
            index = dialog.focus;
        } else {
            for (int i = 0; i < count && index < 0; ++i) {
                if (controls[i].kind == mem::DEFAULT_PUSH_BUTTON) {
                    index = i;
                }
            }
        }
        int id = index >= 0 ? controls[index].id : IDOK;
        Note(dialog, "Enter: WM_COMMAND " + Number(id));
        SendCommand(c, procedure, dialog, id);
        break;
    }
    case mem::PRESS_ESCAPE:
        Note(dialog, "Esc: WM_COMMAND IDCANCEL");
        SendCommand(c, procedure, dialog, IDCANCEL);
        break;
    case mem::CLOSE_BOX:
        // The default handling of each message leads to the next one.
        Note(dialog, "close box: WM_SYSCOMMAND SC_CLOSE");
        if (!Send(c, procedure, dialog.hwnd, WM_SYSCOMMAND, kScClose, 0) && !dialog.ended) {
            Note(dialog, "WM_CLOSE");
            if (!Send(c, procedure, dialog.hwnd, WM_CLOSE, 0, 0) && !dialog.ended) {
                Note(dialog, "WM_COMMAND IDCANCEL");
                SendCommand(c, procedure, dialog, IDCANCEL);
            }
        }
        break;
    case mem::PRESS_TAB: {
        for (int step = 1; step <= count; ++step) {
            int i = ((dialog.focus < 0 ? -1 : dialog.focus) + step) % count;
            if (controls[i].tabStop) {
                dialog.focus = i;
                break;
            }
        }
        Note(dialog, "Tab: focus on " + (dialog.focus >= 0 ? Number(controls[dialog.focus].id) : "nothing"));
        break;
    }
    case mem::CLICK: {
        int index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            if (controls[i].id == action.controlId) {
                index = i;
            }
        }
        if (index < 0) {
            ReportLocked("the script clicks control " + Number(action.controlId) + ", which dialog " +
                         Number(dialog.resourceId) + " does not have");
            break;
        }
        if (!IsButton(controls[index])) {
            Note(dialog, "click on a static control: nothing");
            break;
        }
        Note(dialog, "click on " + Number(action.controlId));
        PressButton(c, procedure, dialog, index);
        break;
    }
    case mem::ALT_KEY: {
        int index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            if (HasMnemonic(controls[i].text, action.letter)) {
                index = i;
            }
        }
        if (index < 0) {
            Note(dialog, std::string("Alt+") + action.letter + ": no such mnemonic, a beep");
        } else if (IsButton(controls[index])) {
            Note(dialog, std::string("Alt+") + action.letter + ": presses " + Number(controls[index].id));
            PressButton(c, procedure, dialog, index);
        } else {
            // A label's mnemonic moves the focus to the control after it.
            for (int i = index + 1; i < count; ++i) {
                if (controls[i].tabStop) {
                    dialog.focus = i;
                    break;
                }
            }
            Note(dialog, std::string("Alt+") + action.letter + ": focus past a label");
        }
        break;
    }
    }
}

}  // namespace

// NULL as instance is refused: the program must pass its own module handle,
// and the model holds it to that (Windows would take NULL as the exe too).
INT_PTR DialogBoxParamA_(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                         LPARAM initParam)
{
    uintptr_t nameValue = reinterpret_cast<uintptr_t>(templateName);
    int resourceId = -1;
    if (nameValue != 0 && nameValue < 0x10000) {
        resourceId = static_cast<int>(nameValue);
    } else if (templateName != nullptr && templateName[0] == '#') {
        resourceId = std::atoi(templateName + 1);
    }
    Call c("DialogBoxParamA", {Hex(reinterpret_cast<uintptr_t>(instance)), Number(resourceId),
                               Hex(reinterpret_cast<uintptr_t>(owner)), Number(initParam)});
    Process* me = c.me;
    auto finish = [&](INT_PTR result) {
        M().dialogRecords.push_back(mem::DialogRecord{me->id, resourceId, result});
        c.Log(Number(result) + (result == -1 || result == 0 ? " (error " + Number(me->lastError) + ")" : ""));
        return result;
    };
    if (instance != me->instance) {
        c.Error(kErrorResourceTypeNotFound);
        return finish(-1);
    }
    auto found = M().templates.find(resourceId);
    if (found == M().templates.end()) {
        c.Error(kErrorResourceNameNotFound);
        return finish(-1);
    }
    if (owner != nullptr && !OpenDialog(owner)) {
        c.Error(kErrorInvalidWindowHandle);
        return finish(0);
    }
    std::shared_ptr<Dialog> dialog = std::make_shared<Dialog>();
    dialog->hwnd = reinterpret_cast<HWND>(M().nextWindow);
    M().nextWindow += 0x10;
    dialog->process = me;
    dialog->resourceId = resourceId;
    dialog->controls = found->second;
    int firstTabStop = -1;
    for (size_t i = 0; i < dialog->controls.size(); ++i) {
        dialog->controlWindows.push_back(reinterpret_cast<HWND>(M().nextWindow));
        M().nextWindow += 0x10;
        if (firstTabStop < 0 && dialog->controls[i].tabStop) {
            firstTabStop = static_cast<int>(i);
        }
    }
    M().openDialogs.push_back(dialog);
    HWND focusWindow = firstTabStop >= 0 ? dialog->controlWindows[firstTabStop] : nullptr;
    Note(*dialog, "WM_INITDIALOG");
    INT_PTR placeFocus = Send(c, dialogProc, dialog->hwnd, WM_INITDIALOG,
                              reinterpret_cast<WPARAM>(focusWindow), initParam);
    // Ended from WM_INITDIALOG: never shown, so the user answered nothing.
    if (!dialog->ended) {
        dialog->focus = placeFocus ? firstTabStop : -1;
        if (M().script.empty()) {
            ReportLocked("dialog " + Number(resourceId) + " shown by process " + Number(me->id) +
                         " but the test scripted no answer for it");
        } else {
            std::vector<mem::UserAction> actions = M().script.front();
            M().script.pop_front();
            for (const mem::UserAction& action : actions) {
                Deliver(c, dialogProc, *dialog, action);
                if (dialog->ended) {
                    break;
                }
            }
            if (!dialog->ended) {
                ReportLocked("dialog " + Number(resourceId) + " in process " + Number(me->id) +
                             " is still open after the user's scripted actions: the program hangs");
            }
        }
    }
    M().openDialogs.erase(std::remove(M().openDialogs.begin(), M().openDialogs.end(), dialog),
                          M().openDialogs.end());
    if (!dialog->ended) {
        c.Error(ERROR_INVALID_PARAMETER);
        return finish(-1);
    }
    return finish(dialog->result);
}

BOOL EndDialog_(HWND dialog, INT_PTR result)
{
    Call c("EndDialog", {Hex(reinterpret_cast<uintptr_t>(dialog)), Number(result)});
    std::shared_ptr<Dialog> open = OpenDialog(dialog);
    if (!open) {
        c.Error(kErrorInvalidWindowHandle);
        c.Log(BoolResult(FALSE, c.me));
        return FALSE;
    }
    open->ended = true;
    open->result = result;
    c.Log("TRUE");
    return TRUE;
}

}  // namespace memory_model

namespace mem {

using namespace memory_model;

void AddDialogTemplate(int resourceId, const std::vector<Control>& controls)
{
    Lock lock(Mutex());
    M().templates[resourceId] = controls;
}

void ScriptDialogs(const std::vector<std::vector<UserAction>>& answers)
{
    Lock lock(Mutex());
    for (const auto& answer : answers) {
        M().script.push_back(answer);
    }
}

std::vector<DialogRecord> DialogsShown()
{
    Lock lock(Mutex());
    return M().dialogRecords;
}

}  // namespace mem

"""The product's facts as the tests expect them, stated once for everything
in Python: the checks of the built file (tests/pe/), the Wine toolkit
(tools/winekit/) and its tests (tests/wine/), the demo, the screenshot maker
and the hand-off benchmark. They are the keys and values the uninstaller reads and removes,
the files and names it handles, the hand-off's named objects, the feedback
page, and its dialogs (captions, texts, control rectangles and styles) and
version block as the built file must carry them.  Written by hand and never
read from the program's sources, so that a fact the program gets wrong
fails the tests instead of moving their expectations with it.  (The C++
tests state the same facts in tests/support/product_facts.h.)

Registry keys are given without their root: SETTINGS_KEY under
HKEY_CURRENT_USER, UNINSTALL_KEY under HKEY_LOCAL_MACHINE, BROWSER_KEY under
HKEY_LOCAL_MACHINE\\Software\\Classes, the machine's own classes.
"""

# --- Registry ----------------------------------------------------------------

SETTINGS_KEY = r"Software\Korrindal\Quillmere"
PROGRAM_PATH_VALUE = "Program Path"
UNINSTALL_PARENT = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_KEY = UNINSTALL_PARENT + r"\Quillmere"
DISPLAY_NAME = "Quillmere"
BROWSER_KEY = r"CLSID\{0002DF01-0000-0000-C000-000000000046}\LocalServer32"

# --- Files -------------------------------------------------------------------

# The product's own files in the install directory: the only ones its sweep
# deletes.
PRODUCT_FILES = ("Quillmere.exe", "Quillmere.hlp", "Quillmere.cnt",
                 "Quillmere.gid", "Quillmere.fts", "Quillmere.ftg",
                 "Buy Online Now!.url")
UNINSTALLER_NAME = "Uninstall.exe"
DESKTOP_SHORTCUT = "Quillmere.lnk"   # in the user's desktop folder
PROGRAM_GROUP = "Quillmere"          # in the user's Start-menu Programs
TEMP_COPY_NAME = "suicide.exe"       # in the temp folder

# --- The hand-off ------------------------------------------------------------

START_EVENT_NAME = "SP start self delete"   # set by the copy once it runs
EXIT_MUTEX_NAME = "SP self delete mutex"    # owned by the uninstaller
HANDOFF_WAIT_MS = 2000                      # each of the two waits

# --- The feedback page -------------------------------------------------------

# The host is chosen when the program is built; this is the build's default.
FEEDBACK_HOST = "www.quillmere.com"
FEEDBACK_PATH = "/whyuninstall.htm"

# --- The dialogs and the version block ---------------------------------------

COMPANY_NAME = "Korrindal"
CONFIRM_CAPTION = "Confirm removing of Quillmere"
CONFIRM_QUESTION = ("Are you sure you want to completely remove Quillmere "
                    "and all of its components?")
COMPLETED_CAPTION = "Uninstall Completed"
COMPLETED_NOTICE = "Quillmere has been successfully removed from your system!"
# The notice shown instead when the removal could not finish (a product
# file still running): the entry, the uninstaller and the shortcuts stay.
UNFINISHED_CAPTION = "Uninstall Not Completed"
UNFINISHED_NOTICE = ("Quillmere could not be removed completely. "
                     "Close it and try again.")
COMPLETED_QUESTION = ("Would you like to tell us why did you uninstall "
                      "Quillmere?")
DIALOG_FONT = ("MS Sans Serif", 8)

# Window and control styles, as winuser.h numbers them.
WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
DS_SETFONT = 0x00000040
DS_MODALFRAME = 0x00000080
DS_CENTER = 0x00000800
BS_PUSHBUTTON = 0x0
BS_DEFPUSHBUTTON = 0x1
BS_TYPEMASK = 0xF       # the bits of a button's style that say its kind
SS_LEFT = 0x0
SS_ICON = 0x3
SS_TYPEMASK = 0x1F      # and of a static control's

IDI_PRODUCT = 134
IDD_CONFIRM_REMOVE = 129
IDD_REMOVE_COMPLETED = 130
IDD_REMOVE_UNFINISHED = 131

DIALOG_STYLE = (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
                | DS_CENTER | DS_SETFONT)
DEFAULT_BUTTON = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON
PUSH_BUTTON = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON
LEFT_TEXT = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
ICON_PICTURE = WS_CHILD | WS_VISIBLE | SS_ICON
ICON_TEXT = ("ordinal", IDI_PRODUCT)
NO_ID = 0xFFFF


def control(name, ident, cls, style, rect, text):
    return {"name": name, "id": ident & 0xFFFF, "class": cls,
            "style": style, "rect": rect, "text": text}


DIALOGS = {
    IDD_CONFIRM_REMOVE: {
        "size": (222, 61),
        "caption": CONFIRM_CAPTION,
        "controls": [
            control("No button", 2, "button", DEFAULT_BUTTON,
                    (51, 42, 50, 14), "No"),
            control("Yes button", 1, "button", PUSH_BUTTON,
                    (120, 42, 50, 14), "Yes"),
            control("question", 1000, "static", LEFT_TEXT, (40, 10, 175, 20),
                    CONFIRM_QUESTION),
            control("icon", NO_ID, "static", ICON_PICTURE, (5, 7, 20, 20),
                    ICON_TEXT),
        ],
    },
    IDD_REMOVE_COMPLETED: {
        "size": (186, 85),
        "caption": COMPLETED_CAPTION,
        "controls": [
            control("Yes button", 1, "button", DEFAULT_BUTTON,
                    (37, 64, 50, 14), "&Yes"),
            control("No button", 2, "button", PUSH_BUTTON,
                    (98, 64, 50, 14), "&No"),
            control("question", NO_ID, "static", LEFT_TEXT, (40, 36, 134, 22),
                    COMPLETED_QUESTION),
            control("notice", NO_ID, "static", LEFT_TEXT, (40, 10, 140, 20),
                    COMPLETED_NOTICE),
            control("icon", NO_ID, "static", ICON_PICTURE, (5, 10, 21, 20),
                    ICON_TEXT),
        ],
    },
    # Nothing to ask: one button, centred, which Enter, Esc and the close
    # box answer alike.
    IDD_REMOVE_UNFINISHED: {
        "size": (186, 61),
        "caption": UNFINISHED_CAPTION,
        "controls": [
            control("OK button", 1, "button", DEFAULT_BUTTON,
                    (68, 40, 50, 14), "OK"),
            control("notice", NO_ID, "static", LEFT_TEXT, (40, 10, 140, 20),
                    UNFINISHED_NOTICE),
            control("icon", NO_ID, "static", ICON_PICTURE, (5, 10, 21, 20),
                    ICON_TEXT),
        ],
    },
}

VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 1",
    "ProductVersion": "1, 0, 0, 1",
    "FileDescription": "Uninstall",
    "InternalName": "Uninstall",
    "OriginalFilename": "Uninstall.exe",
    "ProductName": "Quillmere Uninstall Program",
    "CompanyName": COMPANY_NAME,
    "Comments": "",
    "LegalTrademarks": "",
    "PrivateBuild": "",
    "SpecialBuild": "",
}

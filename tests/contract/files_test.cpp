// Contract cases: files and folders as the program's sweep and hand-off meet
// them. Each runs on the model and on real Win32 under Wine (fixture.h).
#include <algorithm>
#include <string>
#include <vector>

#include "tests/contract/fixture.h"

namespace contract {
namespace {

typedef std::vector<std::string> Names;

class ContractFiles : public Case {
protected:
    static BOOL Delete(const std::string& relative) { return W().DeleteFileA(At(relative).c_str()); }
    static BOOL RemoveFolder(const std::string& relative)
    {
        return W().RemoveDirectoryA(At(relative).c_str());
    }
    static HANDLE Open(const std::string& relative, DWORD share, DWORD flags = 0)
    {
        return W().CreateFileA(At(relative).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                               flags, nullptr);
    }
};

TEST_F(ContractFiles, NamesMatchWhateverTheirCaseAndKeepTheirOwn)
{
    SeedFile("Quillmere\\Quillmere.EXE", "x");
    EXPECT_EQ(SortedList(At("QUILLMERE\\*.*")), (Names{".", "..", "Quillmere.EXE"}));
    EXPECT_TRUE(Delete("quillmere/./x/../QUILLMERE.exe"));
    EXPECT_EQ(Exists("Quillmere\\Quillmere.EXE"), NOTHING);
}

TEST_F(ContractFiles, SearchListsDotEntriesAndMatchesPatterns)
{
    SeedFile("F\\beta.txt");
    SeedFile("F\\Alpha");
    SeedFolder("F\\Gamma");
    EXPECT_EQ(SortedList(At("F\\*.*")), (Names{".", "..", "Alpha", "beta.txt", "Gamma"}));
    EXPECT_EQ(SortedList(At("F\\*.txt")), (Names{"beta.txt"}));
    EXPECT_EQ(SortedList(At("F\\?amm?")), (Names{"Gamma"}));
    EXPECT_EQ(SortedList(At("F\\Gamma\\*")), (Names{".", ".."}));
    Names root = List(At("").substr(0, 3) + "*");
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0) << "no dot entries at a drive's root";
    EXPECT_EQ(std::count(root.begin(), root.end(), ".."), 0);

    WIN32_FIND_DATAA found;
    HANDLE search = W().FindFirstFileA(At("F\\Gamma").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(found.cFileName), "Gamma");
    EXPECT_EQ(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    W().FindClose(search);
    SeedReadOnly("F\\Alpha");
    search = W().FindFirstFileA(At("F\\alpha").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    W().FindClose(search);
}

TEST_F(ContractFiles, SearchFailsAsWindowsReportsIt)
{
    SeedFolder("Empty");
    WIN32_FIND_DATAA found;
    EXPECT_EQ(W().FindFirstFileA(At("Missing\\*.*").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(W().FindFirstFileA(At("Empty\\*.txt").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ContractFiles, DeleteFileFailsWithWindowsErrorCodes)
{
    SeedFolder("D\\Folder");
    SeedFile("D\\readonly.txt");
    SeedReadOnly("D\\readonly.txt");
    SeedFile("D\\open.txt");
    HANDLE open = Open("D\\open.txt", FILE_SHARE_READ);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    std::string image = SeedChildImage("D\\running.exe");
    HANDLE release = W().CreateEventA(nullptr, TRUE, FALSE, "contract-release");
    HANDLE running = StartChild(image, "wait:contract-release");

    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        {"D\\missing.txt", ERROR_FILE_NOT_FOUND},    {"Nowhere\\a.txt", ERROR_PATH_NOT_FOUND},
        {"D\\Folder", ERROR_ACCESS_DENIED},          {"D\\readonly.txt", ERROR_ACCESS_DENIED},
        {"D\\open.txt", ERROR_SHARING_VIOLATION},    {"D\\running.exe", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Delete(c.path)) << c.path;
        EXPECT_EQ(LastError(), c.error) << c.path;
    }
    W().SetEvent(release);
    EXPECT_EQ(W().WaitForSingleObject(running, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(running);
    W().CloseHandle(release);
    W().CloseHandle(open);
    EXPECT_TRUE(Delete("D\\open.txt"));
    EXPECT_EQ(Exists("D\\open.txt"), NOTHING);
}

// DeleteFileA marks the file deleted; it goes when the last handle to it
// closes. (Windows 10 1903 and later drop the name at once, POSIX-style, as
// FILE_DISPOSITION_INFORMATION_EX describes; the DeleteFile documentation and
// Wine keep it until the close, which is the harder case for the program: the
// folder is not empty yet.)
TEST_F(ContractFiles, FileDeletedWhileOpenGoesWithItsLastHandle)
{
    SeedFile("a.txt");
    HANDLE open = Open("a.txt", FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Delete("a.txt"));
    // "Subsequent calls to CreateFile to open the file fail with
    // ERROR_ACCESS_DENIED" (learn.microsoft.com, DeleteFileA); Wine 8 opens
    // a delete-pending file.
    if (OnModel()) {
        EXPECT_EQ(Open("a.txt", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    W().CloseHandle(open);
    EXPECT_EQ(Exists("a.txt"), NOTHING);
}

TEST_F(ContractFiles, FoldersGoOnlyWhenEmptyWritableAndNobodyWorksInThem)
{
    SeedFile("Full\\a.txt");
    SeedFile("file.txt");
    SeedFolder("ReadOnly");
    SeedReadOnly("ReadOnly");
    SeedFolder("Busy");
    SeedFolder("Mine");
    EXPECT_FALSE(RemoveFolder("Full"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveFolder("file.txt"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(W().RemoveDirectoryA(Root().substr(0, 3).c_str())) << "a drive's root";
    EXPECT_FALSE(RemoveFolder("Missing"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // NTFS refuses to delete anything read-only, a folder too
    // (learn.microsoft.com, FILE_DISPOSITION_INFORMATION_EX: STATUS_CANNOT_DELETE
    // unless FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE). Wine run as root
    // removes a read-only folder.
    if (OnModel()) {
        EXPECT_FALSE(RemoveFolder("ReadOnly"));
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Exists("ReadOnly"), FOLDER);
    }

    // A live process's current directory is held open, the caller's own too.
    std::string image = SeedChildImage("child.exe");
    HANDLE go = W().CreateEventA(nullptr, TRUE, FALSE, "contract-go");
    HANDLE child = StartChild(image, "wait:contract-go", At("busy\\").c_str());
    EXPECT_EQ(W().WaitForSingleObject(child, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(RemoveFolder("Busy\\"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    W().SetEvent(go);
    EXPECT_EQ(W().WaitForSingleObject(child, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(RemoveFolder("Busy\\"));
    EXPECT_EQ(Exists("Busy"), NOTHING);
    W().CloseHandle(child);
    W().CloseHandle(go);

    ASSERT_TRUE(W().SetCurrentDirectoryA(At("Mine").c_str()));
    EXPECT_FALSE(RemoveFolder("Mine"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(W().SetCurrentDirectoryA(Root().c_str()));
    EXPECT_TRUE(RemoveFolder("Mine"));
}

// A folder that is a link (symbolic link or junction) leads into its target:
// its attributes say so, and listing and deleting through it reach the
// target's files. Removing it must never cost the target its files.
TEST_F(ContractFiles, FolderLinkLeadsIntoItsTargetAndGoesAlone)
{
    SeedFile("Notes\\Diary.txt", "mine");
    SeedFile("Notes\\Quillmere.lnk");
    SeedFolderLink("Group", "Notes");
    EXPECT_EQ(W().GetFileAttributesA(At("Group").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(W().GetFileAttributesA(At("Notes").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(SortedList(At("Group\\*.*")), (Names{".", "..", "Diary.txt", "Quillmere.lnk"}));
    EXPECT_TRUE(Delete("Group\\Quillmere.lnk"));
    EXPECT_EQ(Exists("Notes\\Quillmere.lnk"), NOTHING);

    const BOOL removed = RemoveFolder("Group");
    EXPECT_EQ(Exists("Group"), removed ? NOTHING : FOLDER) << "fails or removes only the link";
    EXPECT_EQ(Content("Notes\\Diary.txt"), "mine");
    // "When lpPathName refers to a directory junction, RemoveDirectory will
    // remove the specified link regardless of whether the target directory
    // is empty or not" (learn.microsoft.com, RemoveDirectoryA); a folder
    // symbolic link goes the same way. Wine 8 acts on a symbolic link's
    // target instead: it fails while the target holds files, and removes an
    // empty target, leaving the link dangling.
    if (OnModel()) {
        EXPECT_TRUE(removed);
        EXPECT_EQ(Exists("Notes"), FOLDER);
        SeedFolder("Empty");
        SeedFolderLink("ToEmpty", "Empty");
        EXPECT_TRUE(RemoveFolder("ToEmpty"));
        EXPECT_EQ(Exists("ToEmpty"), NOTHING);
        EXPECT_EQ(Exists("Empty"), FOLDER);
    }
}

// The hand-off's whole trick: the copy opened for deletion on close, run,
// its handle closed; it goes only when its process has ended.
TEST_F(ContractFiles, DeleteOnCloseWaitsForTheRunningImage)
{
    std::string image = SeedChildImage("T\\copy.exe");
    SeedReadOnly("T\\copy.exe");
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_DELETE;
    EXPECT_EQ(Open("T\\copy.exe", shareAll, FILE_FLAG_DELETE_ON_CLOSE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "read-only";
    SeedReadOnly("T\\copy.exe", false);

    HANDLE copy = Open("T\\copy.exe", shareAll, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open("T\\copy.exe", FILE_SHARE_READ), INVALID_HANDLE_VALUE)
        << "an open that does not share deletion";
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    HANDLE release = W().CreateEventA(nullptr, TRUE, FALSE, "contract-release");
    HANDLE process = StartChild(image, "wait:contract-release", At("T").c_str());
    W().CloseHandle(copy);
    EXPECT_EQ(SortedList(At("T\\*.*")), (Names{".", "..", "copy.exe"}));
    SeedFile("new.exe", "new");
    EXPECT_FALSE(W().CopyFileA(At("new.exe").c_str(), At("T\\copy.exe").c_str(), FALSE))
        << "delete-pending";
    W().SetEvent(release);
    EXPECT_EQ(W().WaitForSingleObject(process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    W().CloseHandle(process);
    W().CloseHandle(release);
    EXPECT_EQ(Exists("T\\copy.exe"), NOTHING);
}

TEST_F(ContractFiles, CopyOverwritesOnlyWhatWindowsLetsIt)
{
    SeedFile("src.exe", "new bytes");
    SeedReadOnly("src.exe");
    EXPECT_FALSE(W().CopyFileA(At("src.exe").c_str(), At("T\\copy.exe").c_str(), FALSE));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << "the folder T is missing";
    EXPECT_TRUE(W().CopyFileA(At("src.exe").c_str(), At("copy.exe").c_str(), FALSE));
    EXPECT_EQ(Content("copy.exe"), "new bytes");
    EXPECT_FALSE(Delete("copy.exe")) << "the read-only attribute is copied";

    SeedFile("old.exe", "old");
    EXPECT_FALSE(W().CopyFileA(At("src.exe").c_str(), At("old.exe").c_str(), TRUE));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    HANDLE open = Open("old.exe", FILE_SHARE_READ);
    EXPECT_FALSE(W().CopyFileA(At("src.exe").c_str(), At("old.exe").c_str(), FALSE));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    W().CloseHandle(open);
    EXPECT_EQ(Content("old.exe"), "old");
    // "If the destination file already exists and has the
    // FILE_ATTRIBUTE_HIDDEN or FILE_ATTRIBUTE_READONLY attribute set, this
    // function fails with ERROR_ACCESS_DENIED" (learn.microsoft.com,
    // CopyFile). Wine 8 overwrites a read-only destination.
    if (OnModel()) {
        SeedReadOnly("old.exe");
        EXPECT_FALSE(W().CopyFileA(At("src.exe").c_str(), At("old.exe").c_str(), FALSE));
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Content("old.exe"), "old");
        SeedReadOnly("old.exe", false);
    }
    // Held by a reader that shares writing but not deletion: it cannot be
    // deleted, yet it can be overwritten.
    open = Open("old.exe", FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(Delete("old.exe"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(W().CopyFileA(At("src.exe").c_str(), At("old.exe").c_str(), FALSE));
    W().CloseHandle(open);
    EXPECT_EQ(Content("old.exe"), "new bytes");
}

// Path normalization drops the trailing dots and blanks of the last name
// unless a separator follows, and one trailing dot of a name a separator
// follows.
TEST_F(ContractFiles, TrailingDotsAndBlanksOfPathNames)
{
    SeedFile("T\\a.txt");
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        {"T\\a.txt.", ERROR_SUCCESS},        {"T\\a.txt. .  ", ERROR_SUCCESS},
        {"T.\\a.txt", ERROR_SUCCESS},        {"T.\\a.txt..", ERROR_SUCCESS},
        {"T \\a.txt", ERROR_PATH_NOT_FOUND}, {"T..\\a.txt", ERROR_PATH_NOT_FOUND},
        {"T\\a.txt.\\", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        HANDLE open = Open(c.path, FILE_SHARE_READ);
        if (c.error == ERROR_SUCCESS) {
            EXPECT_NE(open, INVALID_HANDLE_VALUE) << c.path << " error " << LastError();
            W().CloseHandle(open);
        } else {
            EXPECT_EQ(open, INVALID_HANDLE_VALUE) << c.path;
            EXPECT_EQ(LastError(), c.error) << c.path;
        }
    }
}

// A path spelt out as every file call resolves it, whether it exists or
// not; the buffer too small gives the size needed.
TEST_F(ContractFiles, FullPathIsSpeltOutWithoutLookingAtTheDisk)
{
    const std::string full = At("A\\B.exe");
    const std::string spellings[] = {At("A\\\\B.exe"), At("A/B.exe"), At("A\\.\\B.exe"),
                                     At("A\\x\\..\\B.exe"), At("A\\B.exe. . ")};
    for (const std::string& path : spellings) {
        char buffer[MAX_PATH];
        LPSTR name = nullptr;
        EXPECT_EQ(W().GetFullPathNameA(path.c_str(), MAX_PATH, buffer, &name), full.size()) << path;
        EXPECT_EQ(std::string(buffer), full) << path;
        EXPECT_EQ(std::string(name), "B.exe") << path;
    }
    char small[8];
    EXPECT_EQ(W().GetFullPathNameA(full.c_str(), sizeof small, small, nullptr), full.size() + 1);
    EXPECT_EQ(Exists("A"), NOTHING);
}

// The ANSI calls take a path of at most MAX_PATH bytes with its zero; the
// current directory must leave room for its trailing separator.
TEST_F(ContractFiles, PathsNear260Bytes)
{
    std::string name259(259 - Root().size(), 'a');  // Root() + name: 259 bytes
    SeedFile(name259);
    SeedFile(name259 + "b");
    EXPECT_TRUE(Delete(name259));
    std::string folder258(258 - Root().size(), 'f');
    SeedFolder(folder258);
    SeedFolder(folder258 + "g");
    EXPECT_TRUE(W().SetCurrentDirectoryA(At(folder258).c_str()));
    EXPECT_TRUE(W().SetCurrentDirectoryA(Root().c_str()));
    // Wine 8 takes a 260-byte path and a current directory of 259 bytes.
    // Windows does not: "the maximum path on drive D is "D:\some 256-character
    // path string<NUL>"" (learn.microsoft.com, Naming Files, Paths, and
    // Namespaces), and for SetCurrentDirectory "specify MAX_PATH-2
    // characters for the path unless you include the trailing backslash"
    // (learn.microsoft.com, SetCurrentDirectory).
    if (OnModel()) {
        EXPECT_FALSE(Delete(name259 + "b"));
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
        EXPECT_EQ(Exists(name259 + "b"), FILE);
        EXPECT_FALSE(W().SetCurrentDirectoryA(At(folder258 + "g").c_str()));
        EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    }
}

}  // namespace
}  // namespace contract

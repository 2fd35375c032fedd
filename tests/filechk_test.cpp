// The file checks on real files under Wine: which files count as usable,
// and the size as the engine is given it.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>

#include "file_support.h"
#include "filechk.h"

namespace {

// Holds a file open with the given access and sharing while it lives.
struct Held {
    HANDLE handle;
    Held(const std::string &path, DWORD access, DWORD share)
        : handle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        EXPECT_NE(INVALID_HANDLE_VALUE, handle) << path;
    }
    ~Held() { CloseHandle(handle); }
};

}  // namespace

TEST(FileChecks, IsFileOnlyForFilesOthersMayRead)
{
    TempFolder folder;
    WriteFileBytes(folder.Path("file"), {1, 2, 3});
    WriteFileBytes(folder.Path("empty"), {});
    CreateDirectoryA(folder.Path("folder").c_str(), nullptr);
    EXPECT_TRUE(IsFile(folder.Path("file").c_str()));
    EXPECT_TRUE(IsFile(folder.Path("empty").c_str()));
    EXPECT_FALSE(IsFile(folder.Path("missing").c_str()));
    EXPECT_FALSE(IsFile(folder.Path("folder").c_str()));
    EXPECT_FALSE(IsFile(""));
    EXPECT_FALSE(IsFile(folder.Path("bad|name").c_str()));
    {
        Held reader(folder.Path("file"), GENERIC_READ, FILE_SHARE_READ);
        EXPECT_TRUE(IsFile(folder.Path("file").c_str())) << "another reader that shares reading";
    }
    {
        Held exclusive(folder.Path("file"), GENERIC_READ, 0);
        EXPECT_FALSE(IsFile(folder.Path("file").c_str())) << "held without shared reading";
        EXPECT_EQ(-1, FileSize(folder.Path("file").c_str()));
    }
    {
        Held writer(folder.Path("file"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_FALSE(IsFile(folder.Path("file").c_str())) << "held open for writing";
    }
    // The check keeps no handle: the file can be had exclusively after it.
    Held exclusive(folder.Path("file"), GENERIC_READ | GENERIC_WRITE, 0);
}

TEST(FileChecks, FileSizeIsTheLowThirtyTwoBitsAsSigned)
{
    TempFolder folder;
    WriteFileBytes(folder.Path("five"), {1, 2, 3, 4, 5});
    WriteFileBytes(folder.Path("empty"), {});
    EXPECT_EQ(5, FileSize(folder.Path("five").c_str()));
    EXPECT_EQ(0, FileSize(folder.Path("empty").c_str()));
    EXPECT_EQ(-1, FileSize(folder.Path("missing").c_str()));
    EXPECT_EQ(-1, FileSize(folder.Path().c_str())) << "a folder";

    // Sparse files keep this instant.
    const struct { LONGLONG size; LONG expected; } table[] = {
        {4294967296LL + 5, 5}, {2147483648LL, INT_MIN}, {2147483647LL, INT_MAX},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.size);
        std::string path = folder.Path("sparse");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD ignored;
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = row.size;
        bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        if (!sized)
            GTEST_SKIP() << "this file system holds no file of " << row.size << " bytes";
        EXPECT_EQ(row.expected, FileSize(path.c_str()));
        DeleteFileA(path.c_str());
    }
}

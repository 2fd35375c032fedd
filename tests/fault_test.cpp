// The fault handler, seen from outside. fault_probe (built with the handler,
// once as a Windows program and once as a console one) raises each kind of
// fault: its report - a message box captioned "ERROR" with the error icon, or
// lines on standard error - gives the exception's code and name, the address
// and the registers; the clean-up it registered has run before (its file is
// gone), and the exit status is -1. Then the shipped vantrel.exe, made to
// fault from outside by a thread started in it at a bad address, does the same.

#include <windows.h>

#include <gtest/gtest.h>

#include <cpuid.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "file_support.h"
#include "program_driver.h"

namespace {

using namespace driver;

struct FaultKind {
    const char *kind;  // fault_probe's argument
    DWORD code;        // what the processor raises
    const char *name;  // the code's name in the report; null for none
    bool marked;       // EBX, ESI, EDI are set, and EIP is the faulting address
    bool faultyCleanup;
    bool run = false;  // during a run that replaces "pending": it stays, no temporary file
};

// The last has a clean-up that faults too.
const FaultKind kKinds[] = {
    {"access", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", true, false},
    {"divide", 0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO", true, false},
    {"stack", 0xC00000FD, "EXCEPTION_STACK_OVERFLOW", true, false},
    {"illegal", 0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION", true, false},
    {"privileged", 0xC0000096, "EXCEPTION_PRIV_INSTRUCTION", true, false},
    {"raise", 0xE0564E54, nullptr, false, true},
    {"run", 0xC0000005, "EXCEPTION_ACCESS_VIOLATION", true, false, true},
};

constexpr DWORD kExitTimeout = 120000;  // a stack overflow is slow under an emulated processor

std::string Hex(DWORD value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
    return text;
}

// QEMU's software emulation of the processor (TCG), on which Wine runs where
// the kernel cannot start 32-bit programs, names itself in CPUID's brand
// string. Wine there tells most faults apart wrongly: an access violation
// and a privileged instruction come as illegal instructions, an integer
// division by zero as an invalid floating-point operation.
bool EmulatedProcessor()
{
    unsigned brand[12] = {};
    for (unsigned leaf = 0; leaf < 3; ++leaf)
        __cpuid(0x80000002 + leaf, brand[4 * leaf], brand[4 * leaf + 1], brand[4 * leaf + 2], brand[4 * leaf + 3]);
    return std::strncmp(reinterpret_cast<const char *>(brand), "QEMU TCG", 8) == 0;
}

// A file the started program writes its standard output or error to.
class OutputFile {
public:
    explicit OutputFile(const std::string &path) : path_(path)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                              0, nullptr);
    }
    ~OutputFile() { CloseHandle(handle_); }
    HANDLE handle() const { return handle_; }
    std::string Text() const
    {
        Bytes bytes = ReadFileBytes(path_);
        std::string text(bytes.begin(), bytes.end());
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

private:
    std::string path_;
    HANDLE handle_;
};

void PrintTo(const FaultKind &fault, std::ostream *out)
{
    *out << fault.kind;
}

class Fault : public ::testing::TestWithParam<FaultKind> {
protected:
    std::string Path(const std::string &name) const { return work_.Path(name); }

    // Starts fault_probe (`variant`) on GetParam()'s kind, with a clean-up
    // that deletes the file "pending".
    void StartProbe(Program &probe, const char *variant, HANDLE output, HANDLE errors = nullptr)
    {
        WriteFileBytes(Path("pending"), Bytes{1, 2, 3});
        std::string arguments = std::string(GetParam().kind) + " \"" + Path("pending") + "\"" +
                                (GetParam().faultyCleanup ? " faulty" : "");
        std::string error;
        ASSERT_TRUE(probe.Start(work_.Path(), &error, std::string("tests\\fault_probe_") + variant + ".exe",
                                arguments, output, errors))
            << error;
    }

    // The clean-up has run: "pending" is gone or, for a fault during a run
    // that replaces it, still holds what it held and no temporary file is
    // left beside it.
    bool CleanedUp() const
    {
        if (!GetParam().run)
            return !fs::exists(Path("pending"));
        for (const auto &entry : fs::directory_iterator(work_.Path())) {
            if (entry.path().filename().string().rfind(".vantrel-", 0) == 0)
                return false;
        }
        return ReadFileBytes(Path("pending")) == Bytes{1, 2, 3};
    }

    // The code and address the system raised, as the probe saw them first:
    // "CODE at ADDRESS".
    static std::string Raised(const std::string &output)
    {
        std::smatch found;
        EXPECT_TRUE(std::regex_search(output, found, std::regex("raised ([0-9A-F]{8} at [0-9A-F]{8})")))
            << "the probe saw no fault: " << output;
        return found.empty() ? "" : found[1].str();
    }

    // What the report says after "exception ": the first line, `gap`, then
    // the registers in three lines.
    std::string ExpectedReport(const std::string &raised, const std::string &gap) const
    {
        const FaultKind &fault = GetParam();
        std::string code = raised.substr(0, 8), address = raised.substr(12);
        std::string hex = "[0-9A-F]{8}";
        std::string report = code;
        if (code == Hex(fault.code)) {
            if (fault.name)
                report += std::string(" \\(") + fault.name + "\\)";
        } else {
            // Only an emulated processor raises another code (its name may follow).
            EXPECT_TRUE(EmulatedProcessor()) << "raised " << code << " for " << fault.kind;
            report += "( \\([A-Z_]+\\))?";
        }
        report += " at address " + address;
        if (code == "C0000005")
            report += ", writing address " + hex;
        return report + gap + "EAX=" + hex + " EBX=" + (fault.marked ? "B1B1B1B1" : hex) + " ECX=" + hex +
               " EDX=" + hex + "\n" + "ESI=" + (fault.marked ? "C2C2C2C2" : hex) +
               " EDI=" + (fault.marked ? "D3D3D3D3" : hex) + " EBP=" + hex + " ESP=" + hex + "\n" +
               "EIP=" + (fault.marked ? address : hex) + " EFLAGS=" + hex;
    }

    TempFolder work_;
};

TEST_P(Fault, CleansUpThenReportsCodeAddressAndRegistersAndExitsWithMinusOne)
{
    // The console variant: the report on standard error.
    std::string raised;
    {
        OutputFile output(Path("output.txt")), errors(Path("errors.txt"));
        Program probe;
        StartProbe(probe, "console", output.handle(), errors.handle());
        ASSERT_EQ(probe.WaitForExit(kExitTimeout), -1);
        EXPECT_TRUE(CleanedUp()) << "the clean-up did not run";
        raised = Raised(output.Text());
        ASSERT_FALSE(raised.empty());
        if (raised.substr(0, 8) != Hex(GetParam().code))
            std::printf("[  NOTE    ] the processor is emulated: Wine raised %s for \"%s\", not %s\n",
                        raised.substr(0, 8).c_str(), GetParam().kind, Hex(GetParam().code).c_str());
        std::string report = errors.Text();
        EXPECT_TRUE(std::regex_match(report, std::regex("fault_probe_console: fatal error: exception " +
                                                        ExpectedReport(raised, "\n") + "\n")))
            << report;
        std::smatch access;  // the probe writes 16 bytes into the page ECX points to
        if (std::regex_search(report, access, std::regex("writing address ([0-9A-F]{8})[\\s\\S]*ECX=([0-9A-F]{8})"))) {
            EXPECT_EQ(std::stoul(access[1].str(), nullptr, 16), std::stoul(access[2].str(), nullptr, 16) + 16);
        }
    }

    // The Windows variant: the message box, up until it is closed.
    OutputFile output(Path("output-box.txt"));
    Program probe;
    StartProbe(probe, "box", output.handle());
    HWND box = probe.WaitForDialog("ERROR");
    ASSERT_NE(box, nullptr) << probe.DescribeWindows();
    EXPECT_EQ(probe.WaitForExit(0), -1000) << "the program ended before the message was closed";
    EXPECT_TRUE(CleanedUp()) << "the clean-up did not run before the message";
    EXPECT_TRUE(WaitUntil([&] { return MessageIconOf(box) == IDI_ERROR; })) << "not the error icon";
    std::string text = TextOf(GetDlgItem(box, 0xFFFF));
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    std::string raisedHere = Raised(output.Text());
    ASSERT_EQ(raisedHere.substr(0, 8), raised.substr(0, 8));
    EXPECT_TRUE(std::regex_match(text, std::regex("Fatal error: exception " + ExpectedReport(raisedHere, "\n\n") +
                                                  "\n\nThe program ends when this message is closed.")))
        << text;
    ASSERT_TRUE(BringToFront(box));
    Press(VK_RETURN);
    EXPECT_EQ(probe.WaitForExit(), -1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Fault, ::testing::ValuesIn(kKinds),
                         [](const auto &info) { return std::string(info.param.kind); });

// vantrel.exe has the handler from its start: a thread that the test starts
// in it at address 16, where nothing can run, faults; the program reports it
// in the box and ends with -1.
TEST(FaultInVantrel, ReportsTheFaultOfAnyThreadAndExitsWithMinusOne)
{
    TempFolder work;
    Program program;
    std::string error;
    ASSERT_TRUE(program.Start(work.Path(), &error)) << error;
    ASSERT_NE(program.WaitForDialog("About Vantrel"), nullptr) << program.DescribeWindows();
    HANDLE thread = CreateRemoteThread(program.Handle(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(16),
                                       nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr) << "error " << GetLastError();
    CloseHandle(thread);
    HWND box = program.WaitForDialog("ERROR");
    ASSERT_NE(box, nullptr) << program.DescribeWindows();
    std::string text = TextOf(GetDlgItem(box, 0xFFFF));
    const std::string code =
        EmulatedProcessor() ? "[0-9A-F]{8} \\([A-Z_]+\\)" : "C0000005 \\(EXCEPTION_ACCESS_VIOLATION\\)";
    EXPECT_TRUE(std::regex_search(text, std::regex("^Fatal error: exception " + code + " at address 00000010")))
        << text;
    EXPECT_NE(text.find("EIP=00000010 "), std::string::npos) << text;
    ASSERT_TRUE(BringToFront(box));
    Press(VK_RETURN);
    EXPECT_EQ(program.WaitForExit(), -1);
}

}  // namespace

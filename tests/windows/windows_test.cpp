// What only Windows does: files in Japanese folders, the registry, the clipboard, and
// kestrova-cli started the way Explorer or a batch file starts it.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include "common/atomic_file.h"
#include "common/error.h"
#include "common/utf8_path.h"
#include "common/windows_text.h"
#include "jww/clipboard.h"
#include "jww/header.h"
#include "jww/jwcad_settings.h"
#include "jww/stream.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = Utf8Path(KESTROVA_SOURCE_DIR "/examples");
const fs::path kRegExport = Utf8Path(KESTROVA_SHARED_TESTDATA "/jwcad-settings/regedit-export.reg");

class TempFolder {
 public:
  TempFolder() {
    root_ = fs::temp_directory_path() /
            (L"kestrova-" +
             Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

size_t EntryCount(const fs::path& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Runs a program with a wide command line, as Explorer and cmd.exe do, standard input,
// output and error from and to files when given; returns its exit code.
DWORD RunProgram(const fs::path& program, const std::wstring& arguments, const fs::path& in = {},
                 const fs::path& out = {}, const fs::path& err = {}) {
  std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;
  HANDLE error = INVALID_HANDLE_VALUE;
  const bool redirected = !in.empty() || !out.empty() || !err.empty();
  if (redirected) {
    input = CreateFileW(in.empty() ? L"NUL" : in.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherited,
                        OPEN_EXISTING, 0, nullptr);
    output = CreateFileW(out.empty() ? L"NUL" : out.c_str(), GENERIC_WRITE, 0, &inherited,
                         CREATE_ALWAYS, 0, nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    if (!err.empty()) {
      error = CreateFileW(err.c_str(), GENERIC_WRITE, 0, &inherited, CREATE_ALWAYS, 0, nullptr);
    }
    startup.hStdError = err.empty() ? GetStdHandle(STD_ERROR_HANDLE) : error;
  }
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                     redirected ? TRUE : FALSE, 0, nullptr, nullptr, &startup, &process);
  const DWORD startError = GetLastError();
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (error != INVALID_HANDLE_VALUE) CloseHandle(error);
  if (!started) {
    ADD_FAILURE() << "cannot start " << WideToUtf8(program.wstring()) << ": "
                  << WindowsErrorMessage(startError);
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

DWORD RunCli(const std::wstring& arguments, const fs::path& in = {}, const fs::path& out = {},
             const fs::path& err = {}) {
  return RunProgram(fs::absolute(Utf8Path(KESTROVA_CLI)), arguments, in, out, err);
}

// The message of the Error that action throws; a failure when it throws none.
std::string ErrorOf(const std::function<void()>& action, const char* what) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << what;
  return {};
}

std::wstring Quoted(const fs::path& p) {
  return L"\"" + p.wstring() + L"\"";
}

TEST(WindowsFiles, AtomicSaveInJapaneseFolders) {
  TempFolder temp;
  const fs::path folder = temp.Root() / L"測量" / L"現場A";
  fs::create_directories(folder);
  const fs::path target = folder / L"座標.zhy";
  WriteFileAtomic(target, "old\r\n");
  {
    AtomicFileWriter abandoned(target);
    abandoned.Write("new", 3);
  }
  EXPECT_EQ(ReadFileBytes(target), "old\r\n");
  EXPECT_EQ(EntryCount(folder), 1u);
  {
    AtomicFileWriter writer(target);
    writer.Write("n?w\r\n", 5);
    writer.WriteAt(1, "e", 1);
    writer.Write("2", 1);  // after WriteAt, writing goes on at the end
    writer.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), "new\r\n2");

  // A read-only file is not replaced behind the user's back: an error naming it, the
  // old bytes kept, no temporary file left.
  ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomic(target, "lost"); }, "a read-only file was replaced"),
            WideToUtf8(target.wstring()) + " is read-only");
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadFileBytes(target), "new\r\n2");
  EXPECT_EQ(EntryCount(folder), 1u);

  const std::string missing = ErrorOf([&] { WriteFileAtomic(folder / L"無い" / L"図面.jww", "x"); },
                                      "wrote into a missing folder");
  EXPECT_NE(missing.find("図面.jww"), std::string::npos) << missing;
}

TEST(WindowsFiles, DevicesFoldersLinksAndDescriptors) {
  TempFolder temp;
  const fs::path folder = temp.Root() / L"測量";
  fs::create_directories(folder / L"data");
  // A device takes the bytes; no temporary file beside it, nothing replaced.
  EXPECT_NO_THROW(WriteFileAtomic(L"NUL", "x"));
  EXPECT_NO_THROW(WriteFileAtomic(folder / L"NUL", "x"));
  // CON cannot be opened just to look at it; it is written as the device it is (without
  // a console that fails), never replaced by a file made beside it.
  for (const wchar_t* device : {L"CON", L"con.txt", L"Prn.zhy"}) {
    try {
      WriteFileAtomic(folder / device, "x");
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).find("cannot replace"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(EntryCount(folder), 1u);
  // A folder is neither written nor read.
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomic(folder / L"data", "x"); }, "a folder was replaced"),
            WideToUtf8((folder / L"data").wstring()) + ": is a folder");
  EXPECT_TRUE(fs::is_directory(folder / L"data"));
  EXPECT_THROW(ReadFileBytes(folder / L"data"), Error);

  // A symbolic link keeps being a link to the file it names, which gets the new bytes.
  const fs::path real = folder / L"data" / L"座標.zhy";
  const fs::path link = folder / L"link.zhy";
  WriteFileAtomic(real, "old");
  // (Wine 8 reports success without making the link.)
  if (CreateSymbolicLinkW(link.c_str(), L"data\\座標.zhy",
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
    WriteFileAtomic(link, "new");
    EXPECT_EQ(ReadFileBytes(real), "new");
    EXPECT_EQ(EntryCount(folder / L"data"), 1u);
    WriteFileAtomic(real, "still linked");
    EXPECT_EQ(ReadFileBytes(link), "still linked");
  } else {
    std::cout << "no symbolic links here: the link case is not checked\n";
  }

  // Descriptors are binary both ways: "\n" stays one byte, 0x1A ends nothing.
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  const int writeFd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_TEXT);
  const int readFd = _open_osfhandle(reinterpret_cast<intptr_t>(readEnd), _O_RDONLY | _O_TEXT);
  ASSERT_GE(writeFd, 0);
  ASSERT_GE(readFd, 0);
  const std::string bytes("a\r\nb\n\x1A\0c\r", 9);
  {
    const auto writer = AtomicFileWriter::ForDescriptor(writeFd, "standard output");
    writer->Write(bytes.data(), 5);
    writer->WriteAt(5, bytes.data() + 5, 4);  // the next bytes, as on a pipe
    writer->Commit();
  }
  _close(writeFd);  // the writer never closes a descriptor it was handed
  EXPECT_EQ(ReadDescriptorBytes(readFd, "standard input"), bytes);
  _close(readFd);

  // A network name stays one when made absolute, as Explorer hands it to the window; a
  // name of the current folder gets its drive.
  EXPECT_EQ(AbsolutePath(L"\\\\fileserver\\share\\測量\\unc site.sim").wstring(),
            L"\\\\fileserver\\share\\測量\\unc site.sim");
  EXPECT_EQ(AbsolutePath(L"\\\\fileserver\\share\\測量\\a.sim").parent_path().wstring(),
            L"\\\\fileserver\\share\\測量");
  EXPECT_EQ(AbsolutePath(L"a.sim"), fs::current_path() / L"a.sim");
}

// The second half of KilledSaveLeavesNothingBehind, in a process of its own.
TEST(WindowsFiles, SaveThatGetsKilled) {
  wchar_t target[MAX_PATH];
  if (GetEnvironmentVariableW(L"KESTROVA_KILLED_SAVE", target, MAX_PATH) == 0) {
    GTEST_SKIP() << "started by KilledSaveLeavesNothingBehind";
  }
  AtomicFileWriter writer(target);
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 4; ++i)
    writer.Write(chunk.data(), chunk.size());
  TerminateProcess(GetCurrentProcess(), 9);  // no destructor, no clean-up
}

TEST(WindowsFiles, KilledSaveLeavesNothingBehind) {
  TempFolder temp;
  const fs::path target = temp.Root() / L"図面.jww";
  WriteFileAtomic(target, "old");
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_TRUE(SetEnvironmentVariableW(L"KESTROVA_KILLED_SAVE", target.c_str()));
  const DWORD code = RunProgram(self, L"--gtest_filter=WindowsFiles.SaveThatGetsKilled");
  SetEnvironmentVariableW(L"KESTROVA_KILLED_SAVE", nullptr);
  EXPECT_EQ(code, 9u);
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(EntryCount(temp.Root()), 1u) << "a temporary file was left";
}

TEST(WindowsCli, StandardStreamsAreBinaryAndTheOutputIsNeverAnInput) {
  TempFolder temp;
  const fs::path folder = temp.Root() / L"現場";
  fs::create_directories(folder);
  const fs::path sim = folder / L"敷地.sim";
  fs::copy_file(kExamples / L"site.sim", sim);
  // Coordinates through standard input and output keep their "\r\n" as they are.
  const fs::path zhy = folder / L"out.zhy";
  ASSERT_EQ(RunCli(L"export - -o - --format zhy", kExamples / L"site.zhy", zhy), 0u);
  EXPECT_EQ(ReadFileBytes(zhy), ReadFileBytes(kExamples / L"site.zhy"));
  // A drawing through standard output is the drawing written to a file, byte for byte.
  const fs::path file = folder / L"file.jww";
  const fs::path piped = folder / L"piped.jww";
  ASSERT_EQ(RunCli(L"convert " + Quoted(sim) + L" -o " + Quoted(file)), 0u);
  ASSERT_EQ(RunCli(L"convert " + Quoted(sim) + L" -o -", {}, piped), 0u);
  EXPECT_EQ(ReadFileBytes(piped), ReadFileBytes(file));

  // The input under another spelling, or through a hard link, is refused as the output.
  const fs::path hard = folder / L"別名.sim";
  ASSERT_TRUE(CreateHardLinkW(hard.c_str(), sim.c_str(), nullptr));
  std::wstring upper = sim.wstring();
  upper.replace(upper.size() - 3, 3, L"SIM");
  const std::wstring spellings[] = {sim.wstring(), upper, (folder / L"." / L"敷地.sim").wstring(),
                                    sim.generic_wstring(), hard.wstring()};
  const std::string before = ReadFileBytes(sim);
  const fs::path message = temp.Root() / L"message.txt";
  for (const std::wstring& same : spellings) {
    SCOPED_TRACE(WideToUtf8(same));
    EXPECT_EQ(RunCli(L"export " + Quoted(sim) + L" -o \"" + same + L"\"", {}, {}, message), 2u);
    EXPECT_NE(ReadFileBytes(message).find("is the input"), std::string::npos)
        << ReadFileBytes(message);
  }
  EXPECT_EQ(ReadFileBytes(sim), before);
  EXPECT_EQ(EntryCount(folder), 5u);
  // Another file is written as usual.
  EXPECT_EQ(RunCli(L"export " + Quoted(sim) + L" -o " + Quoted(folder / L"copy.sim")), 0u);
}

TEST(WindowsCli, JapaneseFolderAndFileNames) {
  TempFolder temp;
  const fs::path ascii = temp.Root() / L"plain";
  const fs::path japanese = temp.Root() / L"測量" / L"現場A";
  fs::create_directories(ascii);
  fs::create_directories(japanese);
  fs::copy_file(kExamples / L"site.sim", ascii / L"site.sim");
  fs::copy_file(kExamples / L"site.sim", japanese / L"敷地 第1.sim");

  ASSERT_EQ(RunCli(L"convert " + Quoted(ascii / L"site.sim") + L" -o " +
                   Quoted(ascii / L"site.jww") + L" --jww-version 351"),
            0u);
  ASSERT_EQ(RunCli(L"convert " + Quoted(japanese / L"敷地 第1.sim") + L" -o " +
                   Quoted(japanese / L"図面.jww") + L" --jww-version 351"),
            0u);
  EXPECT_EQ(ReadFileBytes(japanese / L"図面.jww"), ReadFileBytes(ascii / L"site.jww"));

  ASSERT_EQ(RunCli(L"export " + Quoted(japanese / L"敷地 第1.sim") + L" -o " +
                   Quoted(japanese / L"座標.zhy")),
            0u);
  EXPECT_EQ(ReadFileBytes(japanese / L"座標.zhy"), ReadFileBytes(kExamples / L"site.zhy"));

  // A missing file is an error (exit 1), and nothing is written.
  EXPECT_EQ(RunCli(L"convert " + Quoted(japanese / L"無い.sim") + L" -o " +
                   Quoted(japanese / L"無い.jww")),
            1u);
  EXPECT_FALSE(fs::exists(japanese / L"無い.jww"));
}

// The registry as regedit left it after importing the export that tests/data holds
// (the ctest fixture does the import into the build's own Wine prefix).
TEST(WindowsRegistry, ImportedExportReadsLikeTheTextSource) {
  if (!std::getenv("KESTROVA_REGISTRY_IMPORTED")) {
    GTEST_SKIP() << "run through ctest, which imports the settings into the test prefix";
  }
  std::unique_ptr<JwCadSettingsSource> registry = DefaultJwCadSettingsSource();
  ASSERT_TRUE(registry);
  JwCadSettingsMap text = JwCadSettingsMap::FromRegFile(kRegExport);
  JwwHeader r, t;
  JwCadExtras rx, tx;
  ASSERT_TRUE(ReadJwCadSettings(*registry, r, rx)) << "no Mesh key in the registry";
  ASSERT_TRUE(ReadJwCadSettings(text, t, tx));

  // Everything both give, compared as the drawing header it ends up in.
  const auto headerBytes = [](const JwwHeader& h) {
    MemoryOutStream out;
    uint64_t entityStreamPos = 0;
    EXPECT_TRUE(WriteJwwHeader(out, h, 420, 0, entityStreamPos));
    return std::string(out.Bytes());
  };
  EXPECT_TRUE(headerBytes(r) == headerBytes(t)) << "the registry reads otherwise than the export";
  EXPECT_EQ(rx.Haba100, tx.Haba100);
  EXPECT_EQ(rx.MaxWidth, tx.MaxWidth);
  EXPECT_EQ(rx.DrawOutLine, tx.DrawOutLine);
  EXPECT_EQ(rx.LastDraw, tx.LastDraw);
  EXPECT_EQ(rx.OutLineExpansion, tx.OutLineExpansion);
  // Known values, so that two empty readings cannot pass as equal.
  EXPECT_EQ(r.GridMinimum, 15.0);
  EXPECT_EQ(r.Pens[8].Color, 0xFF0080u);
  EXPECT_EQ(r.TextKinds[9].Color, 5u);

  // A string with Japanese, quotes and backslashes comes through the wide API intact.
  ASSERT_TRUE(registry->OpenKey("Settings"));
  const auto folder = registry->ReadValue("Folder");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->text, "C:\\JWW\\データ \"現場\"");
  EXPECT_FALSE(registry->ReadValue("NoSuchValue"));
  registry->CloseKey();
  EXPECT_FALSE(registry->OpenKey("NoSuchKey"));
}

// The clipboard's bytes of a registered format; empty when it holds none.
std::string ClipboardBytes(const wchar_t* formatName) {
  const UINT format = RegisterClipboardFormatW(formatName);
  std::string bytes;
  if (!OpenClipboard(nullptr)) {
    ADD_FAILURE() << "cannot open the clipboard";
    return bytes;
  }
  if (const HANDLE data = GetClipboardData(format)) {
    if (const void* p = GlobalLock(data)) {
      bytes.assign(static_cast<const char*>(p), GlobalSize(data));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return bytes;
}

void PutText(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  const size_t size = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  std::memcpy(GlobalLock(memory), text.c_str(), size);
  GlobalUnlock(memory);
  EXPECT_TRUE(SetClipboardData(CF_UNICODETEXT, memory));
  CloseClipboard();
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

TEST(WindowsClipboard, JwWinAndDataObjectReplaceWhatWasThere) {
  PutText(L"測点 A-1");
  // Bytes that a text conversion would damage: NUL, CR, LF, 0x1A.
  std::string payload(400, '\0');
  for (size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<char>("\r\n\x1A\0\xFF"[i % 5] + (i / 5) % 3);
  const auto sink = SystemClipboardSink();
  ASSERT_TRUE(sink);
  sink->SetJwWinData(payload);

  const std::string jwWin = ClipboardBytes(L"Jw_win");
  ASSERT_GE(jwWin.size(), payload.size());
  EXPECT_EQ(jwWin.substr(0, payload.size()), payload);

  ASSERT_TRUE(OpenClipboard(nullptr));
  const HANDLE held = GetClipboardData(RegisterClipboardFormatW(L"Jw_win"));
  const HANDLE dataObject = GetClipboardData(RegisterClipboardFormatW(L"DataObject"));
  ASSERT_TRUE(held && dataObject);
  ASSERT_GE(GlobalSize(dataObject), 4u);
  uint32_t value = 0;
  std::memcpy(&value, GlobalLock(dataObject), 4);
  GlobalUnlock(dataObject);
  CloseClipboard();
  EXPECT_NE(value, 0u);  // a handle value; Wine hands out a new one on every read

  // The text copied before is gone: a paste elsewhere must not bring it back.
  EXPECT_EQ(ClipboardText(), L"");
}

TEST(WindowsClipboard, BusyClipboardIsAnErrorAndChangesNothing) {
  const auto sink = SystemClipboardSink();
  sink->SetJwWinData("first");
  std::atomic<int> stage{0};
  std::thread other([&stage] {
    // Another program's window holding the clipboard open.
    const HWND window =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window || !OpenClipboard(window)) {
      stage = -1;
      return;
    }
    stage = 1;
    while (stage == 1)
      Sleep(5);
    CloseClipboard();
    DestroyWindow(window);
  });
  while (stage == 0)
    Sleep(5);
  ASSERT_EQ(stage, 1) << "the helper thread could not open the clipboard";
  EXPECT_EQ(ErrorOf([&] { sink->SetJwWinData("second"); },
                    "the clipboard was taken while another program held it"),
            "the clipboard is held by another program");
  stage = 2;
  other.join();
  EXPECT_EQ(ClipboardBytes(L"Jw_win").substr(0, 5), "first");
  sink->SetJwWinData("second");
  EXPECT_EQ(ClipboardBytes(L"Jw_win").substr(0, 6), "second");
}

TEST(WindowsClipboard, CliClipPutsTheBytesItWritesWithOutput) {
  TempFolder temp;
  const fs::path sim = kExamples / L"site.sim";
  const fs::path payloadFile = temp.Root() / L"転送.bin";
  ASSERT_EQ(RunCli(L"clip " + Quoted(sim) + L" -o " + Quoted(payloadFile)), 0u);
  const std::string payload = ReadFileBytes(payloadFile);
  ASSERT_GT(payload.size(), 146u);
  ASSERT_EQ(RunCli(L"clip " + Quoted(sim)), 0u);
  const std::string onClipboard = ClipboardBytes(L"Jw_win");
  ASSERT_GE(onClipboard.size(), payload.size());
  EXPECT_EQ(onClipboard.substr(0, payload.size()), payload);
  EXPECT_EQ(ClipboardBytes(L"DataObject").size() >= 4, true);
}

}  // namespace
}  // namespace kestrova

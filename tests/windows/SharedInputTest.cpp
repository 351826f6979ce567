// The input file as a Windows producer meets it: the producer keeps its own handle, appends,
// and may rename or delete the file while a pass holds it open here.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <share.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "stream/InputFile.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::patternBytes;
using testing::TempDir;

// A producer's open file, appending the pattern bytes for the offsets it writes.
class Producer {
  public:
    virtual ~Producer() = default;
    virtual void append(const std::vector<std::uint8_t>& bytes) = 0;
};

class Win32Producer : public Producer {
  public:
    Win32Producer(const std::string& path, ::DWORD share)
        : handle_(::CreateFileA(path.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Win32Producer() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    void append(const std::vector<std::uint8_t>& bytes) override {
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE) << "producer could not open the file";
        ::DWORD written = 0;
        ASSERT_TRUE(::WriteFile(handle_, bytes.data(), static_cast<::DWORD>(bytes.size()), &written,
                                nullptr));
        ASSERT_EQ(written, bytes.size());
    }

  private:
    HANDLE handle_;
};

class CrtProducer : public Producer {
  public:
    CrtProducer(const std::string& path, int share) : file_(::_fsopen(path.c_str(), "ab", share)) {}
    ~CrtProducer() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    void append(const std::vector<std::uint8_t>& bytes) override {
        ASSERT_NE(file_, nullptr) << "producer could not open the file";
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file_), bytes.size());
        ASSERT_EQ(std::fflush(file_), 0);
    }

  private:
    std::FILE* file_;
};

struct ProducerCase {
    const char* name;
    std::function<std::unique_ptr<Producer>(const std::string& path)> open;
};

class ProducerTest : public ::testing::TestWithParam<ProducerCase> {};

std::vector<std::uint8_t> readAt(InputFile& file, std::int32_t offset, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    file.seekTo(offset);
    bytes.resize(file.read(bytes.data(), size));
    return bytes;
}

TEST_P(ProducerTest, AppendsWhileThePassHoldsTheFileAndTheNextMeasureSeesThem) {
    TempDir dir;
    const std::string path = dir.file("live.iq");
    auto producer = GetParam().open(path);
    producer->append(patternBytes(1000));

    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    EXPECT_EQ(file.measure(), 1000);
    producer->append(patternBytes(5000, 1000));
    EXPECT_EQ(file.measure(), 6000);
    EXPECT_EQ(readAt(file, 1000, 8000), patternBytes(5000, 1000));

    // A producer that (re)opens while we hold the file is not refused either.
    producer.reset();
    producer = GetParam().open(path);
    producer->append(patternBytes(3000, 6000));
    EXPECT_EQ(file.measure(), 9000);
    EXPECT_EQ(readAt(file, 0, 9000), patternBytes(9000));
}

INSTANTIATE_TEST_SUITE_P(
    Producers, ProducerTest,
    ::testing::Values(ProducerCase{"CreateFileSharingReadAndWrite",
                                   [](const std::string& path) {
                                       return std::make_unique<Win32Producer>(
                                           path, FILE_SHARE_READ | FILE_SHARE_WRITE);
                                   }},
                      // The strictest producer that still lets readers in.
                      ProducerCase{"CreateFileSharingReadOnly",
                                   [](const std::string& path) {
                                       return std::make_unique<Win32Producer>(path,
                                                                              FILE_SHARE_READ);
                                   }},
                      ProducerCase{"FsopenDenyingNone",
                                   [](const std::string& path) {
                                       return std::make_unique<CrtProducer>(path, _SH_DENYNO);
                                   }},
                      ProducerCase{"FsopenDenyingWrite",
                                   [](const std::string& path) {
                                       return std::make_unique<CrtProducer>(path, _SH_DENYWR);
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SharedInputTest, ProducerMayRenameAndDeleteTheFileWhileThePassHoldsIt) {
    TempDir dir;
    const std::string path = dir.file("live.iq");
    const std::string aside = dir.file("live.old");
    testing::writeFile(path, patternBytes(4000));
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);

    EXPECT_TRUE(::MoveFileExA(path.c_str(), aside.c_str(), 0)) << ::GetLastError();
    EXPECT_EQ(readAt(file, 0, 4000), patternBytes(4000));
    EXPECT_TRUE(::DeleteFileA(aside.c_str())) << ::GetLastError();
    file.close();
    EXPECT_EQ(file.open(path), InputFile::OpenStatus::CannotOpen);
}

TEST(SharedInputTest, BytesArriveRawWithoutLineEndOrEndOfFileTranslation) {
    TempDir dir;
    const std::string path = dir.file("raw.iq");
    // CR LF pairs, a lone LF, and Ctrl-Z, which text mode would stop at.
    const std::vector<std::uint8_t> bytes{'\r', '\n', 0x1A, 'a', '\n', '\r', '\r', '\n', 0x1A};
    testing::writeFile(path, bytes);
    InputFile file;
    ASSERT_EQ(file.open(path), InputFile::OpenStatus::Opened);
    EXPECT_EQ(file.measure(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(readAt(file, 0, 100), bytes);
}

TEST(SharedInputTest, DevicesDirectoriesAndPipesAreNeverOpenedAsInput) {
    TempDir dir;
    const std::string pipeName = "\\\\.\\pipe\\iqfeeder-test-" + dir.path().filename().string();
    const HANDLE pipe = ::CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_OUTBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    // Not one of them may pass for a missing file ("Check file exists!").
    for (const std::string& path :
         {std::string("NUL"), std::string("CON"), std::string("nul.txt"), std::string("COM1"),
          std::string("\\\\?\\GLOBALROOT\\Device\\Null"), dir.path().string(), pipeName}) {
        InputFile file;
        EXPECT_EQ(file.open(path), InputFile::OpenStatus::NotRegularFile) << path;
        EXPECT_FALSE(file.isOpen()) << path;
    }
    ::CloseHandle(pipe);
}

}  // namespace
}  // namespace iqfeeder

// Files to be sent: regular files and pipes are read to their end, everything else is refused by
// name before it is opened for good.

#include "message/input_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "message/message_error.h"
#include "support/test_support.h"

namespace tovrel::message {
namespace {

std::string ReadAll(InputFile& file) {
  std::string all;
  char area[4096];
  while (const size_t n = file.Read(area)) all.append(area, n);
  return all;
}

std::string FailureOf(const std::string& path) {
  try {
    CheckInputFile(path);
  } catch (const FileError& error) {
    const std::string checked = error.what();
    try {
      InputFile file(path, 100);
    } catch (const FileError& opened) {
      EXPECT_EQ(opened.what(), checked);
      return checked;
    }
    ADD_FAILURE() << "opened " << path;
    return checked;
  }
  return "accepted";
}

TEST(InputFileTest, OnlyRegularFilesAndPipesAreAccepted) {
  test::TempDir dir;
  const std::string regular = dir.File("a.txt");
  test::WriteFile(regular, "regular bytes");
  EXPECT_EQ(CheckInputFile(regular), InputFileKind::ifRegular);
  InputFile file(regular, 100);
  EXPECT_EQ(file.kind(), InputFileKind::ifRegular);
  EXPECT_EQ(ReadAll(file), "regular bytes");

  const std::string socket_path = dir.File("s.sock");
  const int listener = test::UnixSocket(socket_path, -1);

  for (const std::string& refused : {std::string("/dev/zero"), dir.path(), socket_path}) {
    EXPECT_EQ(FailureOf(refused),
              "Cannot send " + refused + ": it is not a regular file or a pipe");
  }
  close(listener);
  EXPECT_EQ(FailureOf(dir.File("missing")), "Cannot open file " + dir.File("missing"));
}

TEST(InputFileTest, PipesAreReadToTheirEndOrGiveUpWhenSilent) {
  // The read end a shell hands over for "<(command)", reached by its /proc name.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string by_name = "/proc/self/fd/" + std::to_string(ends[0]);
  EXPECT_EQ(CheckInputFile(by_name), InputFileKind::ifPipe);
  const std::string text = test::RandomBytes(300000, 2);  // more than the pipe holds at once
  std::thread writer([&] {
    for (size_t done = 0; done < text.size();) {
      const ssize_t n =
          write(ends[1], text.data() + done, std::min<size_t>(7000, text.size() - done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(ends[1]);
  });
  {
    InputFile piped(by_name, 5000);
    close(ends[0]);
    EXPECT_EQ(piped.kind(), InputFileKind::ifPipe);
    EXPECT_EQ(ReadAll(piped), text);
  }
  writer.join();

  // A FIFO that nobody writes to: the open does not block, the read gives up at the limit.
  test::TempDir dir;
  const std::string fifo = dir.File("f");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  InputFile silent(fifo, 200);
  char area[16];
  try {
    silent.Read(area);
    ADD_FAILURE() << "no failure";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), ("Nothing more arrived from " + fifo + " in time").c_str());
  }
}

}  // namespace
}  // namespace tovrel::message

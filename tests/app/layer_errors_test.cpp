// The program links every layer; each layer's failures must still be caught by that layer's own
// base, whatever order the linker met the layers in, and same-named types of two layers must
// stay two types with their own texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>

#include "app/app_errors.h"
#include "app/text_file.h"
#include "app/texts.h"
#include "http/http_error.h"
#include "http/socket_error_table.h"
#include "message/message_error.h"
#include "message/spool_file.h"
#include "message/string_helpers.h"
#include "message/texts.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"
#include "store/registry_store.h"
#include "store/store_error.h"
#include "support/config_home.h"

namespace tovrel::app {
namespace {

// Which of the roots catches what `raise` throws.
enum class Caught { kNetError, kAppError, kRegistryError, kHttpError, kOther };

Caught CatchOf(const std::function<void()>& raise) {
  try {
    raise();
  } catch (const message::NetError&) {
    return Caught::kNetError;
  } catch (const AppError&) {
    return Caught::kAppError;
  } catch (const store::RegistryError&) {
    return Caught::kRegistryError;
  } catch (const http::HttpError&) {
    return Caught::kHttpError;
  } catch (...) {
  }
  return Caught::kOther;
}

TEST(LayerErrorsTest, EachLayersFailureIsCaughtByItsOwnBase) {
  static_assert(!std::is_same_v<FileError, message::FileError>);
  test::ScopedConfigHome home;

  // Raised by the real operations of each layer, not constructed here.
  EXPECT_EQ(CatchOf([] { ReadTextLines("/nonexistent/body.txt"); }), Caught::kAppError);
  try {
    ReadTextLines("/nonexistent/body.txt");
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"/nonexistent/body.txt\": ", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(CatchOf([] { message::NewSpoolFileName("/nonexistent/folder"); }), Caught::kNetError);
  try {
    message::NewSpoolFileName("/nonexistent/folder");
  } catch (const message::FileError& e) {
    EXPECT_STREQ(e.what(), "Cannot create file /nonexistent/folder/TovXXXXXX.tmp");
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not a message FileError: " << e.what();
  }
  EXPECT_EQ(CatchOf([] {
              store::RegistryStore registry;
              registry.set_target_key("smtp");
              registry.set_target_value("smtp");
              registry.ReadString();
            }),
            Caught::kRegistryError);
  EXPECT_EQ(CatchOf([] { throw net::SocketError(10061, "refused"); }), Caught::kNetError);
  EXPECT_EQ(CatchOf([] { throw http::SockError("lookup"); }), Caught::kHttpError);
}

// The update check keeps a copy of the transport's errno table, as it may not use that layer: a
// system failure must read as the same number in both.
TEST(LayerErrorsTest, BothErrnoTablesGiveTheSameNumbers) {
  constexpr int kHttpUnmapped = 20000;
  for (int system_errno = 1; system_errno < 200; ++system_errno) {
    const int from_http = http::SocketErrorFromErrno(system_errno);
    const int from_net = net::SystemStack::TranslateErrno(system_errno);
    EXPECT_EQ(from_net, from_http < kHttpUnmapped ? from_http : system_errno) << system_errno;
  }
}

}  // namespace
}  // namespace tovrel::app

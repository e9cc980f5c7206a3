#pragma once

// A fixture for the window tests: a private settings store, message boxes shown for real so the
// test can answer them, and shortcuts to the widgets by their names.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

#include "app/message_box.h"
#include "app/settings_layout.h"
#include "store/registry_store.h"
#include "support/config_home.h"

namespace tovrel::test {

class AppTest : public testing::Test {
 protected:
  AppTest() {
    app::SetMessageBoxMode(app::MessageBoxMode::kInteractive);
    store_.set_base_key(app::kBaseKey);
  }
  ~AppTest() override { app::SetMessageBoxMode(app::MessageBoxMode::kAuto); }

  std::string Stored(const std::string& section, const std::string& name) {
    store_.set_target_key(section);
    store_.set_target_value(name);
    return store_.ReadString();
  }
  void Store(const std::string& section, const std::string& name, const std::string& value) {
    store_.set_target_key(section);
    store_.set_target_value(name);
    store_.WriteString(value);
  }
  // A store past its first run, with a main account and the given extra identities.
  void StoreAccount(const std::string& name, const std::string& address, int extra = 0) {
    Store("frst", "", "c");
    Store("ident", "nameId0", name + ",");
    Store("ident", "emailId0", address);
    Store("ident", "numOfIdents", std::to_string(extra));
    Store("port", "port", "25");
  }

  template <typename T>
  static T* Find(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << "no widget " << name;
    return widget;
  }
  static std::string Text(const QString& text) { return text.toStdString(); }

  ScopedConfigHome home_;
  store::RegistryStore store_;
};

}  // namespace tovrel::test

// The tests' hooks of the dialog layer across modules: the program and each
// DLL carry their own copy of the layer (a static library), and an action
// queued with OnNextDialog, or a time limit set with SetDialogTimeout, in one
// copy reaches the dialogs and message boxes another copy opens. The queue
// is one per process, oldest action first, whichever copy queued it.
#include <windows.h>
// (its A/W macros of the layer's names undone)
#include "platform/ui/win32/win32_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_template.h"
#include "tests/windows/dialogs/failsafe.h"

namespace {

namespace pui = platform::ui;
using platform::WindowHandle;

intptr_t localProc(WindowHandle dialog, uint32_t message, platform::WParam wParam, platform::LParam) {
  if (message == pui::kWmInitDialog) return 1;
  if (message == pui::kWmCommand && (pui::loWord(wParam) == pui::kIdOk || pui::loWord(wParam) == pui::kIdCancel)) {
    pui::EndDialog(dialog, pui::loWord(wParam) == pui::kIdOk ? 21 : 22);  // 21: OK, 22: Cancel
    return 1;
  }
  return 0;
}

// A dialog "Local" with OK and Cancel, opened by the program's copy.
intptr_t runLocalDialog() {
  using K = pui::ControlKind;
  pui::DialogTemplate t;
  t.caption = "Local";
  t.rect = {10, 10, 120, 40};
  t.controls = {
      pui::makeControl(pui::kIdOk, K::DefPushButton, "OK", {5, 20, 50, 14}, pui::kCtlTabStop),
      pui::makeControl(pui::kIdCancel, K::PushButton, "Cancel", {60, 20, 50, 14}, pui::kCtlTabStop),
  };
  return pui::DialogBoxIndirectParam(t, nullptr, localProc, 0);
}

class ModuleHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    pui::testing::SetDialogTimeout(10000);  // a dialog a test fails to end ends with -1
    module_ = platform::loadLibrary(DIALOGS_HOOKS_PROBE);
    ASSERT_NE(module_, nullptr) << platform::lastModuleError();
    ASSERT_TRUE(platform::getProcAddress(module_, "ProbeRunDialog", runDialog_));
    ASSERT_TRUE(platform::getProcAddress(module_, "ProbeMessageBox", messageBox_));
    ASSERT_TRUE(platform::getProcAddress(module_, "ProbeQueueClick", queueClick_));
    ASSERT_TRUE(platform::getProcAddress(module_, "ProbeSetDialogTimeout", setTimeout_));
    failsafe_ = std::make_unique<tktest::QuitFailsafe>();
  }
  void TearDown() override {
    if (failsafe_) {
      EXPECT_FALSE(failsafe_->fired()) << "a dialog did not get the layer's time limit";
    }
    failsafe_.reset();
    pui::testing::SetDialogTimeout(0);
    if (module_) platform::freeLibrary(module_);
  }

  platform::ModuleHandle module_ = nullptr;
  intptr_t (*runDialog_)() = nullptr;
  int (*messageBox_)() = nullptr;
  void (*queueClick_)(int, char*) = nullptr;
  void (*setTimeout_)(uint32_t) = nullptr;
  std::unique_ptr<tktest::QuitFailsafe> failsafe_;
};

TEST_F(ModuleHooks, ActionsReachTheDialogsOfEitherCopyInTheOrderQueued) {
  const struct {
    bool queuedHere;    // else queued by the module
    bool dialogHere;    // else the module's dialog
    int button;
    intptr_t result;
  } rows[] = {
      {true, false, pui::kIdOk, 11},
      {true, false, pui::kIdCancel, 12},
      {false, true, pui::kIdOk, 21},
      {false, true, pui::kIdCancel, 22},
      {false, false, pui::kIdOk, 11},
      {true, true, pui::kIdCancel, 22},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.queuedHere) + std::to_string(row.dialogHere) + std::to_string(row.button));
    char caption[64] = "none";
    if (row.queuedHere) {
      pui::testing::OnNextDialog([&](WindowHandle dialog) {
        const std::string text = pui::GetWindowText(dialog);
        text.copy(caption, 63);
        caption[text.size()] = '\0';
        pui::testing::Click(pui::GetDlgItem(dialog, row.button));
      });
    } else {
      queueClick_(row.button, caption);
    }
    EXPECT_EQ(row.dialogHere ? runLocalDialog() : runDialog_(), row.result);
    EXPECT_STREQ(caption, row.dialogHere ? "Local" : "Probe");
  }
  // Two actions from two copies: each dialog takes the oldest.
  char first[64] = "none", second[64] = "none";
  queueClick_(pui::kIdCancel, first);
  pui::testing::OnNextDialog([&](WindowHandle dialog) {
    snprintf(second, sizeof second, "%s", pui::GetWindowText(dialog).c_str());
    pui::testing::Click(pui::GetDlgItem(dialog, pui::kIdOk));
  });
  EXPECT_EQ(runLocalDialog(), 22);
  EXPECT_EQ(runDialog_(), 11);
  EXPECT_STREQ(first, "Local");
  EXPECT_STREQ(second, "Probe");
}

TEST_F(ModuleHooks, AnActionQueuedHereReachesTheModulesMessageBox) {
  std::string seen;
  pui::testing::OnNextDialog([&](WindowHandle box) {
    seen = pui::GetWindowText(box);
    pui::testing::Click(pui::GetDlgItem(box, pui::kIdCancel));
  });
  EXPECT_EQ(messageBox_(), pui::kIdCancel);
  EXPECT_EQ(seen, "Probe box");
}

TEST_F(ModuleHooks, ATimeLimitSetInOneCopyEndsTheDialogsOfTheOther) {
  const struct {
    bool setHere;
    bool dialogHere;
  } rows[] = {{true, false}, {false, true}, {false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.setHere) + std::to_string(row.dialogHere));
    if (row.setHere) {
      pui::testing::SetDialogTimeout(200);
    } else {
      setTimeout_(200);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(row.dialogHere ? runLocalDialog() : runDialog_(), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    pui::testing::SetDialogTimeout(10000);
  }
  // And the module's message box.
  setTimeout_(0);
  pui::testing::SetDialogTimeout(200);
  EXPECT_EQ(messageBox_(), 0);
}

}  // namespace

// The settings dialog on the scripted runner: preselection, the click
// handlers, and what confirming or cancelling does to the driver and the file.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/settings_file.h"
#include "driver/tvm30.h"
#include "forms/scripted_runner.h"
#include "library/driver_object.h"
#include "settings_dialog/menu_entry.h"
#include "settings_dialog/param_form.h"
#include "tests/support/scripted_port.h"
#include "tests/support/settings_dir.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

using forms::Activate;
using forms::ModalResult;
using forms::ScriptedRunner;
using forms::TRadioButton;

ScriptedRunner Script(std::function<ModalResult(TParamFrm&)> script) {
  return ScriptedRunner(
      [script](forms::TForm& form) { return script(static_cast<TParamFrm&>(form)); });
}

const ScriptedRunner kPressOk = Script([](TParamFrm& form) { return Activate(form.BitBtn1); });
const ScriptedRunner kPressCancel = Script([](TParamFrm& form) { return Activate(form.BitBtn2); });

// The checked buttons of a group, by name: "S2", "" or, wrongly, "S1 S3".
std::string checked(TRadioButton& b0, TRadioButton& b1, TRadioButton& b2, TRadioButton& b3,
                    char group) {
  std::string names;
  int decimals = 0;
  for (const TRadioButton* button : {&b0, &b1, &b2, &b3}) {
    if (button->Checked())
      names += std::string(names.empty() ? "" : " ") + group + std::to_string(decimals);
    ++decimals;
  }
  return names;
}
std::string sum_checked(TParamFrm& form) {
  return checked(form.S0, form.S1, form.S2, form.S3, 'S');
}
std::string price_checked(TParamFrm& form) {
  return checked(form.C0, form.C1, form.C2, form.C3, 'C');
}

class SettingsDialog : public ::testing::Test {
 protected:
  // A destroyed driver frees the shared dialog; each case starts without one.
  void TearDown() override { ReleaseDriverUi(*driver); }

  // The settings as if read from the file.
  void SetDriver(std::uint8_t sum, std::uint8_t price, bool mono) {
    UseSettings(*driver, {sum, price, mono});
    for (auto& pending : driver->ParamsPending) pending = 0;
  }
  long PendingPumps() const {
    return std::count_if(driver->ParamsPending.begin(), driver->ParamsPending.end(),
                         [](const auto& pending) { return pending.load() == 1; });
  }
  bool NoPumpPending() const {
    return std::all_of(driver->ParamsPending.begin(), driver->ParamsPending.end(),
                       [](const auto& pending) { return pending.load() == 0; });
  }

  testing::TempSettingsDir dir;
  std::unique_ptr<TVM30> driver = std::make_unique<TVM30>(nullptr, ReplyCheckRegistration{});
};

TEST_F(SettingsDialog, opens_with_the_drivers_settings_preselected) {
  SetDriver(2, 0, true);
  std::string seen;
  OnParamMenuClick(*driver, nullptr, Script([&](TParamFrm& form) {
    seen = sum_checked(form) + "," + price_checked(form) + "," +
           (form.MonoCommand.Checked ? "mono" : "multi");
    return ModalResult::kCancel;
  }));
  EXPECT_EQ(seen, "S2,C0,mono");
}

TEST_F(SettingsDialog, a_decimals_value_above_3_checks_nothing_on_a_new_dialog_and_ok_keeps_it) {
  SetDriver(7, 9, false);
  std::string seen = "not shown";
  OnParamMenuClick(*driver, nullptr, Script([&](TParamFrm& form) {
    seen = sum_checked(form) + price_checked(form);
    return Activate(form.BitBtn1);
  }));
  EXPECT_EQ(seen, "");
  EXPECT_EQ(driver->StoredSumDecimals, 7);
  EXPECT_EQ(driver->StoredPriceDecimals, 9);
  EXPECT_EQ(driver->SumDecimals, 2);  // what 7 stands for
  EXPECT_NE(dir.read_file().find("SDec=7"), std::string::npos);
}

TEST_F(SettingsDialog, a_decimals_value_above_3_keeps_the_button_of_the_last_showing) {
  SetDriver(1, 3, false);
  OnParamMenuClick(*driver, nullptr, kPressCancel);
  SetDriver(7, 3, false);
  std::string seen;
  OnParamMenuClick(*driver, nullptr, Script([&](TParamFrm& form) {
    seen = sum_checked(form);
    return Activate(form.BitBtn1);
  }));
  EXPECT_EQ(seen, "S1");
  EXPECT_EQ(driver->SumDecimals, 1);
}

TEST_F(SettingsDialog, destroying_any_driver_brings_the_next_showing_a_new_dialog) {
  SetDriver(1, 1, true);
  OnParamMenuClick(*driver, nullptr, kPressCancel);
  auto other = std::make_unique<TVM30>(nullptr, ReplyCheckRegistration{});
  ReleaseDriverUi(*other);
  other.reset();

  SetDriver(7, 7, false);
  std::string seen = "not shown";
  OnParamMenuClick(*driver, nullptr, Script([&](TParamFrm& form) {
    seen = sum_checked(form) + price_checked(form);
    return ModalResult::kCancel;
  }));
  EXPECT_EQ(seen, "");
}

TEST_F(SettingsDialog,
       a_click_leaves_exactly_the_clicked_button_checked_and_the_other_group_alone) {
  SetDriver(1, 2, false);
  OnParamMenuClick(*driver, nullptr, Script([](TParamFrm& form) {
    const std::pair<TRadioButton*, std::string> sum_clicks[] = {
        {&form.S3, "S3"}, {&form.S0, "S0"}, {&form.S2, "S2"}, {&form.S1, "S1"}};
    for (const auto& [button, name] : sum_clicks) {
      Activate(*button);
      EXPECT_EQ(sum_checked(form), name);
      EXPECT_EQ(price_checked(form), "C2");
    }
    const std::pair<TRadioButton*, std::string> price_clicks[] = {
        {&form.C0, "C0"}, {&form.C3, "C3"}, {&form.C1, "C1"}};
    for (const auto& [button, name] : price_clicks) {
      Activate(*button);
      EXPECT_EQ(price_checked(form), name);
      EXPECT_EQ(sum_checked(form), "S1");
    }
    // The handler itself, as preselection calls it, with its own button checked.
    form.C0Click(form.C1);
    EXPECT_EQ(price_checked(form), "C1");
    return ModalResult::kCancel;
  }));
}

TEST_F(SettingsDialog, ok_without_changes_saves_the_settings_and_marks_every_pump) {
  SetDriver(2, 0, false);
  OnParamMenuClick(*driver, nullptr, kPressOk);
  EXPECT_EQ(driver->SumDecimals, 2);
  EXPECT_EQ(driver->PriceDecimals, 0);
  EXPECT_FALSE(driver->MonoStart);
  EXPECT_EQ(dir.read_file(), "[Zarvo]\r\nSDec=2\r\nPDec=0\r\nMPTRK=0\r\n");
  EXPECT_EQ(PendingPumps(), 40 * 32);
}

TEST_F(SettingsDialog, changed_values_reach_the_driver_and_the_file) {
  SetDriver(2, 2, false);
  OnParamMenuClick(*driver, nullptr, Script([](TParamFrm& form) {
    Activate(form.S0);
    Activate(form.C3);
    Activate(form.MonoCommand);
    return Activate(form.BitBtn1);
  }));
  EXPECT_EQ(driver->SumDecimals, 0);
  EXPECT_EQ(driver->PriceDecimals, 3);
  EXPECT_TRUE(driver->MonoStart);
  const std::string text = dir.read_file();
  EXPECT_NE(text.find("SDec=0"), std::string::npos);
  EXPECT_NE(text.find("PDec=3"), std::string::npos);
  EXPECT_NE(text.find("MPTRK=1"), std::string::npos);
}

TEST_F(SettingsDialog, cancel_changes_nothing_and_writes_nothing) {
  SetDriver(2, 2, true);
  OnParamMenuClick(*driver, nullptr, Script([](TParamFrm& form) {
    Activate(form.S3);
    Activate(form.C1);
    Activate(form.MonoCommand);
    return Activate(form.BitBtn2);
  }));
  // Closing the window ends the showing with no result at all.
  OnParamMenuClick(*driver, nullptr, Script([](TParamFrm&) { return ModalResult::kNone; }));
  EXPECT_EQ(driver->SumDecimals, 2);
  EXPECT_EQ(driver->PriceDecimals, 2);
  EXPECT_TRUE(driver->MonoStart);
  EXPECT_FALSE(dir.file_exists());
  EXPECT_TRUE(NoPumpPending());
}

TEST_F(SettingsDialog, a_failed_save_raises_keeps_the_old_values_and_marks_no_pump) {
  SetDriver(2, 2, false);
  dir.make_unwritable();
  const auto choose_three = Script([](TParamFrm& form) {
    Activate(form.S3);
    return Activate(form.BitBtn1);
  });
  EXPECT_THROW(OnParamMenuClick(*driver, nullptr, choose_three), Exception);
  EXPECT_EQ(driver->SumDecimals, 2);
  EXPECT_EQ(driver->StoredSumDecimals, 2);
  EXPECT_TRUE(NoPumpPending());
}

TEST_F(SettingsDialog, a_driver_destroyed_while_the_dialog_is_up_frees_it_only_after_it_closes) {
  SetDriver(2, 2, false);
  auto other = std::make_unique<TVM30>(nullptr, ReplyCheckRegistration{});
  OnParamMenuClick(*driver, nullptr, Script([&](TParamFrm& form) {
    ReleaseDriverUi(*other);  // the host's message loop runs meanwhile
    other.reset();
    Activate(form.S3);
    return Activate(form.BitBtn1);
  }));
  EXPECT_EQ(driver->SumDecimals, 3);
}

// A driver made through the library's factory on a scripted port, as a host
// makes it, and what it then tells the dispensers through the table.
class SettingsOnTheWire : public ::testing::Test {
 protected:
  ~SettingsOnTheWire() override {
    if (object != nullptr) zarvo_da30_destroy(object);
  }
  void Start(const std::string& file_text) {
    if (object != nullptr) zarvo_da30_destroy(object);
    ::setenv("ZARVO_WINDIR", dir.path().c_str(), 1);
    dir.write_file(file_text);
    object = GetDA30(0, nullptr, port.port());
  }
  void Confirm(const ScriptedRunner& script) {
    OnParamMenuClick(DriverOf(object), nullptr, script);
  }

  // The parameter writes of pump 1's next poll, as "40=02 41=02 42=00".
  std::string Programmed() {
    const std::size_t before = port.frames.size();
    for (int i = 0; i < 3; ++i) port.reply(testing::ReplyFrame(1, 'Q', "0"));
    port.reply(testing::ReplyFrame(1, 'J', "0"));
    zarvo_poll_result record{};
    object->ops->PollPump(&record, object, 1, 1, 0);
    std::string writes;
    for (std::size_t i = before; i < port.frames.size(); ++i) {
      const testing::Bytes p = port.payload(i);
      if (p.size() == 7 && p[2] == '2') {
        writes += std::string(writes.empty() ? "" : " ") +
                  std::string(p.begin() + 3, p.begin() + 5) + "=" +
                  std::string(p.begin() + 5, p.end());
      }
    }
    return writes;
  }
  // The digits of a price of 6.51 and of an amount preset of the given amount.
  std::string Scaled(double amount = 50.5) {
    port.reply(testing::ReplyFrame(1, 'Q', "0")).reply(testing::ReplyFrame(1, 'Q', "0"));
    object->ops->SetPrice(object, 1, 1, 1, 0, 0, 6.51);
    object->ops->PresetAmount(object, 1, 1, 1, 0, amount);
    const testing::Bytes price = port.payload(port.frames.size() - 2);
    const testing::Bytes preset = port.payload(port.frames.size() - 1);
    return std::string(price.begin() + 4, price.begin() + 8) + " " +
           std::string(preset.begin() + 5, preset.begin() + 11);
  }

  testing::TempSettingsDir dir;
  testing::ScriptedPort port;
  zarvo_da30* object = nullptr;
};

TEST_F(SettingsOnTheWire, the_decimals_programmed_are_always_those_the_digits_are_scaled_by) {
  const struct {
    std::string file;
    std::string programmed;
    std::string scaled;
  } cases[] = {
      {"", "40=02 41=02 42=00", "0651 005050"},
      {"[Zarvo]\r\nSDec=3\r\nPDec=0\r\n", "40=03 41=00 42=00", "0007 050500"},
      {"[Zarvo]\r\nSDec=258\r\nPDec=3\r\n", "40=02 41=03 42=00", "6510 005050"},
      // Outside 0..3 the file's value is refused and the default used.
      {"[Zarvo]\r\nSDec=4\r\nPDec=4\r\n", "40=02 41=02 42=00", "0651 005050"},
      {"[Zarvo]\r\nSDec=-1\r\nPDec=255\r\n", "40=02 41=02 42=00", "0651 005050"},
      {"[Zarvo]\r\nSDec=7\r\nPDec=1\r\n", "40=02 41=01 42=00", "0065 005050"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Start(c.file);
    EXPECT_EQ(Programmed(), c.programmed);
    EXPECT_EQ(Scaled(), c.scaled);
  }
}

TEST_F(SettingsOnTheWire, a_refused_file_value_checks_no_button_and_ok_keeps_it_in_the_file_only) {
  Start("[Zarvo]\r\nSDec=7\r\nPDec=9\r\n");
  EXPECT_EQ(Programmed(), "40=02 41=02 42=00");
  std::string seen = "not shown";
  Confirm(Script([&](TParamFrm& form) {
    seen = sum_checked(form) + price_checked(form);
    return Activate(form.BitBtn1);
  }));
  EXPECT_EQ(seen, "");
  EXPECT_EQ(dir.read_file(), "[Zarvo]\r\nSDec=7\r\nPDec=9\r\nMPTRK=0\r\n");
  EXPECT_EQ(Programmed(), "40=02 41=02 42=00");
  EXPECT_EQ(Scaled(), "0651 005050");
}

TEST_F(SettingsOnTheWire, a_confirmed_change_is_used_only_once_saved_and_then_reaches_every_pump) {
  const struct {
    bool writable;
    std::string programmed;
    std::string scaled;
  } cases[] = {
      {true, "40=03 41=02 42=00", "0651 100000"},
      // Saved or not, the driver and the dispensers never disagree.
      {false, "", "0651 010000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.writable ? "saved" : "not saved");
    Start("");
    Programmed();
    if (!c.writable) dir.make_unwritable();
    const auto choose_three = Script([](TParamFrm& form) {
      Activate(form.S3);
      return Activate(form.BitBtn1);
    });
    if (c.writable) {
      Confirm(choose_three);
    } else {
      EXPECT_THROW(Confirm(choose_three), Exception);
    }
    EXPECT_EQ(Programmed(), c.programmed);
    EXPECT_EQ(Scaled(100.0), c.scaled);
  }
}

TEST_F(SettingsOnTheWire, a_preset_after_a_saved_change_programs_the_pump_before_its_start) {
  Start("");
  Programmed();
  Confirm(Script([](TParamFrm& form) {
    Activate(form.S3);
    return Activate(form.BitBtn1);
  }));
  for (int i = 0; i < 4; ++i) port.reply(testing::ReplyFrame(1, 'Q', "0"));
  const std::size_t before = port.frames.size();
  object->ops->PresetAmount(object, 1, 1, 1, 0, 10.0);
  std::vector<std::string> sent;
  for (std::size_t i = before; i < port.frames.size(); ++i) {
    const testing::Bytes p = port.payload(i);
    sent.emplace_back(p.begin() + 2, p.end());
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"24003", "24102", "24200", "91A01000040650"}));
  EXPECT_EQ(Programmed(), "");
}

}  // namespace
}  // namespace zarvo

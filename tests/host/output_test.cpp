// What the host shows: JSON, pump state labels, the progress bar, and the
// driver's texts in the terminal's character set.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "codepage/cp1251.h"
#include "host/output/json.h"
#include "host/output/output.h"
#include "host/output/progress_bar.h"
#include "host/output/pump_state.h"
#include "host/output/text.h"

namespace zarvo::host {
namespace {

TEST(Json, numbers_keep_their_shortest_form_and_texts_are_escaped) {
  const Json value{{"volume", 2.0},      {"amount", 0.1},
                   {"state", 192},       {"label", "a \"quoted\"\nline"},
                   {"missing", nullptr}, {"list", {true, false, 1e21, 18446744073709551615U}}};
  EXPECT_EQ(json_text(value),
            R"({"volume":2,"amount":0.1,"state":192,"label":"a \"quoted\"\nline",)"
            R"("missing":null,"list":[true,false,1e+21,18446744073709551615]})");
  EXPECT_EQ(json_text(Json(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(json_text(Json("bad \xFF byte")), "\"bad \xEF\xBF\xBD byte\"");
}

TEST(PumpState, the_shared_codes_have_their_labels) {
  EXPECT_EQ(pump_state_label(192), "idle");
  EXPECT_EQ(pump_state_label(220), "nozzle 4 authorized");
  EXPECT_EQ(pump_state_label(228), "nozzle 4 lifted");
  EXPECT_EQ(pump_state_label(238), "nozzle 6 lifted and authorized");
  EXPECT_EQ(pump_state_label(255), "dispenser fault");
  EXPECT_EQ(pump_state_label(77), "code 77");
  EXPECT_TRUE(delivery_active(217));
  EXPECT_TRUE(delivery_active(233));
  EXPECT_FALSE(delivery_active(192));
  EXPECT_TRUE(transaction_ended(1));
  EXPECT_TRUE(transaction_ended(216));
}

TEST(ProgressBar, the_bar_fills_with_the_fraction_and_stays_within_its_width) {
  EXPECT_EQ(progress_text(0.5, 10), "[#####.....]  50%");
  EXPECT_EQ(progress_text(1.7, 10), "[##########] 100%");
  EXPECT_EQ(progress_text(-1, 4), "[....]   0%");
}

TEST(Text, driver_messages_go_out_in_the_terminals_set_and_as_utf8_in_json) {
  const std::string message = utf8_from_cp1251(cp1251("Ошибка задания цены").view());
  EXPECT_EQ(message, "Ошибка задания цены");
  EXPECT_EQ(to_charset("Can't GetSost", "ASCII"), "Can't GetSost");
  // Letters the target set lacks become placeholders instead of vanishing.
  EXPECT_EQ(to_charset("ТРК 1", "ASCII"), "??? 1");

  std::ostringstream text, json, err;
  Output as_text(false, text, err, "KOI8-R");
  Output as_json(true, json, err, "KOI8-R");
  for (Output* out : {&as_text, &as_json}) out->result(Json{{"error", message}}, message);
  as_text.error("zarvo: " + message);
  EXPECT_EQ(text.str(), "\xEF\xDB\xC9\xC2\xCB\xC1 \xDA\xC1\xC4\xC1\xCE\xC9\xD1 \xC3\xC5\xCE\xD9\n");
  EXPECT_EQ(err.str(), "zarvo: " + text.str());
  EXPECT_EQ(json.str(), "{\"error\":\"Ошибка задания цены\"}\n");
}

}  // namespace
}  // namespace zarvo::host

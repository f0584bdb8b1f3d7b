#include "client/key_policy.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "log/log.h"

namespace {

engine::KeyEvent Key(int code, uint32_t modifiers,
                     engine::KeyEventType type = engine::KeyEventType::RawKeyDown) {
  engine::KeyEvent event;
  event.type = type;
  event.windows_key_code = code;
  event.modifiers = modifiers;
  return event;
}

constexpr uint32_t kCtrl = engine::EVENTFLAG_CONTROL_DOWN;
constexpr uint32_t kAlt = engine::EVENTFLAG_ALT_DOWN;
constexpr uint32_t kShift = engine::EVENTFLAG_SHIFT_DOWN;

TEST(KeyPolicy, EveryModifierCombinationAgainstFKeysCAndLetters) {
  const uint32_t combos[] = {0, kShift, kCtrl, kAlt, kCtrl | kAlt, kCtrl | kAlt | kShift,
                             kCtrl | kShift, kAlt | kShift};
  for (bool chord : {false, true}) {
    for (bool disable : {false, true}) {
      for (uint32_t mods : combos) {
        const bool ctrl = mods & kCtrl, alt = mods & kAlt;
        for (int code : {112, 116, 123, 67, 65, 90, 13, 37}) {
          std::ostringstream log, errors;
          const vkx::LogRedirect redirect(log, errors);
          const vkx::KeyVerdict v = vkx::DecidePreKey(Key(code, mods), chord, disable);
          const bool isChord = chord && ctrl && alt && code == 67;
          const bool isF = code >= 112 && code <= 123;
          SCOPED_TRACE(testing::Message() << "chord=" << chord << " disable=" << disable
                                          << " mods=" << mods << " code=" << code);
          EXPECT_EQ(v.endSession, isChord);
          EXPECT_EQ(v.consume, isChord || (disable && (isF || ctrl || alt)));
          std::string expected = "OnPreKeyEvent - Ctrl: " + std::to_string(ctrl) +
                                 ", Alt:" + std::to_string(alt) + ", K:" + std::to_string(code) + "\n";
          if (isChord) expected += "Ctrl+Alt+C detected. Terminating client...\n";
          else if (disable && isF) expected += "OnPreKeyEvent - F" + std::to_string(code - 111) + " key pressed\n";
          EXPECT_EQ(log.str(), expected);
          EXPECT_EQ(errors.str(), "");
        }
      }
    }
  }
}

TEST(KeyPolicy, KeyUpAndCharactersPassUnlogged) {
  for (auto type : {engine::KeyEventType::KeyUp, engine::KeyEventType::Char}) {
    std::ostringstream log;
    const vkx::LogRedirect redirect(log, log);
    const vkx::KeyVerdict v = vkx::DecidePreKey(Key(67, kCtrl | kAlt, type), true, true);
    EXPECT_FALSE(v.consume);
    EXPECT_FALSE(v.endSession);
    vkx::LogUnhandledKey(Key(67, kCtrl, type));
    EXPECT_EQ(log.str(), "");
  }
  std::ostringstream log, errors;
  const vkx::LogRedirect redirect(log, errors);
  vkx::DecidePreKey(Key(65, 0, engine::KeyEventType::KeyDown), false, true);
  vkx::LogUnhandledKey(Key(65, kAlt | kShift, engine::KeyEventType::KeyDown));
  EXPECT_EQ(log.str(), "OnPreKeyEvent - Ctrl: 0, Alt:0, K:65\nOnKeyEvent - Ctrl: 0, Alt:1, K:65\n");
  EXPECT_EQ(errors.str(), "");
}

}  // namespace

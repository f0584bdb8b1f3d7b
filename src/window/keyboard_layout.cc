#include "window/keyboard_layout.h"

#include <algorithm>

namespace vkx {

namespace {

constexpr char kLayoutDirectory[] = "/usr/share/onboard/layouts/";

// The keys of the program's compact layout that type text, in its own names.
constexpr const char* kTextKeys[] = {
    "TLDE", "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09", "AE10",
    "AE11", "AE12", "AD01", "AD02", "AD03", "AD04", "AD05", "AD06", "AD07", "AD08", "AD09",
    "AD10", "AD11", "AD12", "BKSL", "AC01", "AC02", "AC03", "AC04", "AC05", "AC06", "AC07",
    "AC08", "AC09", "AC10", "AC11", "LSGT", "AB01", "AB02", "AB03", "AB04", "AB05", "AB06",
    "AB07", "AB08", "AB09", "AB10"};

}  // namespace

int KeyboardHeightFor(int windowWidth, int windowHeight) {
  const int wanted = std::max(windowWidth / 3, 120);
  return std::max(1, std::min(wanted, windowHeight * 2 / 5));
}

std::string KioskKeyboardLayout() {
  const std::string dir = kLayoutDirectory;
  std::string layout =
      "<?xml version=\"1.0\" ?>\n"
      "<keyboard id=\"vkx-kiosk\" format=\"3.2\" section=\"user\" summary=\"Kiosk\">\n"
      "  <include file=\"" + dir + "key_defs.xml\"/>\n"
      "  <box border=\"0.5\" spacing=\"1.5\" orientation=\"vertical\">\n"
      "    <panel filename=\"" + dir + "Compact-Alpha.svg\">\n";
  for (const char* key : kTextKeys) {
    layout += std::string("      <key group=\"alphanumeric\" id=\"") + key + "\"/>\n";
  }
  layout +=
      "      <key group=\"misc\" id=\"CAPS\"/>\n"
      "      <key group=\"shifts\" id=\"LFSH\"/>\n"
      "      <key group=\"shifts\" id=\"RTSH\"/>\n"
      "      <key group=\"bottomrow\" id=\"SPCE\"/>\n"
      "      <key group=\"bottomrow\" id=\"BKSP\"/>\n"
      "      <key group=\"misc\" id=\"TAB\"/>\n"
      "      <key group=\"misc\" id=\"RTRN\" label_x_align=\"0.65\"/>\n"
      "      <key group=\"directions_alpha\" id=\"LEFT\"/>\n"
      "      <key group=\"directions_alpha\" id=\"RGHT\"/>\n"
      "    </panel>\n"
      "  </box>\n"
      "</keyboard>\n";
  return layout;
}

}  // namespace vkx

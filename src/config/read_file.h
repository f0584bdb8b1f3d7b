#pragma once

#include <string>

// Reads the whole file into `content`; false when it cannot be opened or
// read, and for anything but a regular file: a FIFO would block the kiosk
// for good.
bool ReadRegularFile(const std::string& path, std::string& content);

// The settings of the last successful "打开", for a station that comes back by
// itself (lx6100-station --resume). "Successful" means the controller
// answered: the link state showed "通讯正常" after that "打开", so port, baud
// rate, parity and address are proven together; an "打开" that never got an
// answer is not remembered.
//
// They are kept in <configuration folder>/lx6100-station/last-open.conf
// ($XDG_CONFIG_HOME, ~/.config by default), an INI file a person can read:
//
//   [link]
//   port=1
//   baud=9600
//   parity=none
//   address=1
//
// A plain start never reads it.
#pragma once

#include "link/registerimage.h"

#include <QString>

#include <optional>

namespace station {

// <configuration folder>/lx6100-station/last-open.conf.
QString lastOpenPath();

// Port, baud code, parity code and station address of the file; nullopt when
// there is none or it does not hold a whole, valid set.
std::optional<LinkSettings> loadLastOpen();
// Keeps them; false when the file could not be written.
bool saveLastOpen(const LinkSettings &settings);

} // namespace station

#pragma once
// `t6-card station --reader R...`: watches card readers and rebuilds every
// card put into one of them, one card at a time per reader and the readers
// side by side, until interrupted. Cards are found by asking each reader
// every half second, with no access rights, whether it holds a medium; a
// card is never opened for writing before its run. A card that failed is
// left alone until it is taken out and put in again.

#include "tools/card_options.h"

#include <ostream>

int stationCommand(const CardOptions& options, std::ostream& out, std::ostream& err);

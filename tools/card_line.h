#pragma once
// `t6-card install A B C ...`: several cards rebuilt at once, one t6-card
// process per card side by side, each verified from its card; then one
// table of results. Exit status 0 only when every card succeeded.

#include "tools/card_options.h"

#include <ostream>

int installManyCommand(const CardOptions& options, std::ostream& out, std::ostream& err);

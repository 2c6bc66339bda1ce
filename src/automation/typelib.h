// Member tables of the automation classes (generated from their declarations).
#pragma once

#include <vector>

#include "korvex/automation.h"

namespace korvex::automation {

std::vector<Member> cKorvexMembers();

}  // namespace korvex::automation

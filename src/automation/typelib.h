// Member tables of the automation classes (generated from their declarations).
#pragma once

#include <vector>

#include "korvex/automation.h"

namespace korvex::automation {

std::vector<Member> cKorvexMembers();
std::vector<Member> kxViewerMembers();
std::vector<Member> KxViewerCntMembers();

// The viewer classes: their members, their events and a headless host for
// objects created by name.
const ClassInfo& ViewerClass();
const ClassInfo& ViewerCntClass();

}  // namespace korvex::automation

#include "unit/inprocesshost.h"

namespace tstest {

std::mutex InProcessHost::reportLock;
std::vector<std::string> InProcessHost::reports;

}  // namespace tstest

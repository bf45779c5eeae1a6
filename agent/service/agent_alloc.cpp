#include "agent_alloc.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<unsigned> g_skip{0};
std::atomic<unsigned> g_fail{0};

bool Refused()
{
    if (g_fail.load() == 0) {
        return false;
    }
    if (g_skip.load() > 0) {
        --g_skip;
        return false;
    }
    --g_fail;
    return true;
}
} // namespace

void SetAgentAllocFaultForTest(unsigned skip, unsigned fail)
{
    g_skip.store(skip);
    g_fail.store(fail);
}

void *AgentCalloc(size_t count, size_t size)
{
    if (Refused()) {
        return nullptr;
    }
    return std::calloc(count, size);
}

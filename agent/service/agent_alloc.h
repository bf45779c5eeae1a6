// The agent's zeroed heap blocks that the engine's transport and the
// profile lookup take (released with free), with a test-only fault hook.
#ifndef HBR_AGENT_ALLOC_H
#define HBR_AGENT_ALLOC_H

#include <cstddef>

// calloc(count, size), or null when it fails or the fault hook refuses it.
void *AgentCalloc(size_t count, size_t size);

// Test only: after this call AgentCalloc succeeds `skip` more times and
// then fails `fail` times. (0, 0) clears the hook.
void SetAgentAllocFaultForTest(unsigned skip, unsigned fail);

#endif

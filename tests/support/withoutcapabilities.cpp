#include "tests/support/withoutcapabilities.h"

WithoutCapabilities::WithoutCapabilities(std::initializer_list<int> capabilities)
{
    if (syscall(SYS_capget, &m_header, m_saved) != 0)
        return;
    __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
    for (const int capability : capabilities)
        lowered[capability / 32].effective &= ~(1U << (capability % 32));
    m_active = syscall(SYS_capset, &m_header, lowered) == 0;
}

WithoutCapabilities::~WithoutCapabilities()
{
    if (m_active)
        syscall(SYS_capset, &m_header, m_saved);
}

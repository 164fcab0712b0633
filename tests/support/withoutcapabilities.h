#pragma once

#include <initializer_list>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// While this lives, the calling thread acts without the given capabilities (for root: as an
// ordinary user would, in their respect), keeping the right to take them back, which it does
// at the end. CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH open any file whatever its mode;
// CAP_SYS_ADMIN opens a terminal held in exclusive mode.
class WithoutCapabilities
{
public:
    explicit WithoutCapabilities(std::initializer_list<int> capabilities);
    ~WithoutCapabilities();
    WithoutCapabilities(const WithoutCapabilities &) = delete;
    WithoutCapabilities &operator=(const WithoutCapabilities &) = delete;

    bool isActive() const { return m_active; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_active = false;
};

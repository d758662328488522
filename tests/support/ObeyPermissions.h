#pragma once
// While it lives, the calling thread obeys file permissions even as root: the
// capabilities that override them are lowered from its effective set (they stay
// permitted and come back afterwards). Tests of unreadable or unwritable files
// and folders then see what a user would see.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orbtest {

class TObeyPermissions {
public:
    TObeyPermissions()
    {
        if (::geteuid() != 0) {
            active_ = true; // permissions apply anyway
            return;
        }
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            lowered[cap / 32].effective &= ~(1u << (cap % 32));
        lowered_ = active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~TObeyPermissions()
    {
        if (lowered_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    TObeyPermissions(const TObeyPermissions &) = delete;
    TObeyPermissions &operator=(const TObeyPermissions &) = delete;

    // False when permissions could not be made to apply (root without the
    // right to change its own capabilities): the test cannot see them.
    bool Active() const { return active_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
    bool lowered_ = false;
};

} // namespace orbtest

#include "engine/OpenFiles.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <sys/resource.h>

void OpenFiles::raiseLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

long OpenFiles::free()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const long most = static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1L << 20));
    // The listing of /proc/self/fd holds a descriptor of its own, counted
    // with the open ones: one kept back. A listing that cannot be opened for
    // want of one says enough.
    DIR* listing = ::opendir("/proc/self/fd");
    if (!listing)
        return errno == EMFILE || errno == ENFILE ? 0 : most - 3;
    long open = 0;
    while (const dirent* entry = ::readdir(listing))
        open += entry->d_name[0] != '.';
    ::closedir(listing);
    return most - open;
}

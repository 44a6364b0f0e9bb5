/* What the build compiler's static C++ runtime expects from a newer C library than the one the
 * Linux builds link against (glibc 2.31 headers and libraries, so the result loads on systems
 * from glibc 2.28 on). Both symbols are hidden: they serve the library or program they are linked
 * into and never stand in for the host process's own. */
#include <fcntl.h>
#include <stdint.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

/* Zero tells the runtime the process may have several threads: its reference counts stay atomic. */
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;

/* Random numbers for std::random_device: the kernel's generator, else /dev/urandom, else the clock
 * (the driver itself never asks for random numbers; this only has to be sound if something does). */
__attribute__((visibility("hidden"))) uint32_t arc4random(void) {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, 0) == (ssize_t)sizeof value) return value;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = read(fd, &value, sizeof value);
        close(fd);
        if (got == (ssize_t)sizeof value) return value;
    }
    struct timespec now = {0, 0};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)now.tv_nsec ^ (uint32_t)now.tv_sec * 2654435761u;
}

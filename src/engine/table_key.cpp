#include "table_key.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/random.h>

#include "internal_failure.hpp"

namespace morvanex {
namespace {

void fill_from_os(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw InternalFailure(std::string("could not read the random source: ") +
                                  std::strerror(errno));
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
}

struct ThreadKeyPair {
    bool seeded = false;
    TableKey key{};
};

thread_local ThreadKeyPair thread_key_pair;

}  // namespace

TableKey next_table_key() {
    ThreadKeyPair& pair = thread_key_pair;
    if (!pair.seeded) {
        fill_from_os(&pair.key, sizeof pair.key);
        pair.seeded = true;
    }
    TableKey current = pair.key;
    pair.key.k0 += 1;  // wraps modulo 2^64
    return current;
}

}  // namespace morvanex

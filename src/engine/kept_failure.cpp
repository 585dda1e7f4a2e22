#include "kept_failure.hpp"

#include <new>
#include <stdexcept>

#include "interruption.hpp"

namespace morvanex {

void KeptFailure::keep_current() noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    if (kind_ != Kind::none) return;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        kind_ = Kind::out_of_memory;
    } catch (const InternalFailure& failure) {
        keep(Kind::internal, [&] { internal_.emplace(failure); });
    } catch (const Interrupted&) {
        kind_ = Kind::interrupted;
    } catch (const ThreadsLost&) {
        kind_ = Kind::threads_lost;
    } catch (const std::length_error& failure) {
        keep(Kind::too_large, [&] { text_ = failure.what(); });
    } catch (const std::exception& failure) {
        keep(Kind::other, [&] { text_ = failure.what(); });
    } catch (...) {
        kind_ = Kind::other;
    }
}

void KeptFailure::rethrow_if_any() const {
    switch (kind_) {
        case Kind::none: return;
        case Kind::out_of_memory: throw std::bad_alloc();
        case Kind::internal: throw *internal_;
        case Kind::interrupted: throw Interrupted();
        case Kind::threads_lost: throw ThreadsLost();
        case Kind::too_large: throw std::length_error(text_);
        case Kind::other: throw std::runtime_error(text_);
    }
}

}  // namespace morvanex

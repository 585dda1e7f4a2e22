#include <gtest/gtest.h>

#include <string>

#include "driver.hpp"
#include "engine_test_support.hpp"
#include "interruption.hpp"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(__SANITIZE_THREAD__)
#define UNDER_THREAD_SANITIZER
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define UNDER_THREAD_SANITIZER
#endif
#endif

namespace morvanex::testing {
namespace {

// One long candidate whose walks all follow one long key, `word`: far more
// trie steps than the asks allow, whichever thread scores it.
struct OneLongWalk {
    InsertedStrings roots;
    InsertedScores scores{2};

    explicit OneLongWalk(const std::string& word) {
        scores.insert("a", 1.0);
        scores.insert(word, 0.5);
        roots.insert(word);
        roots.insert("aa");
    }
};

// The third ask stops the call; without asks it would run for minutes.
TEST(Interruption, TheThirdAskStopsTheCallOnEveryThread) {
    const std::string word(200000, 'a');
    for (std::size_t threads : {1, 2, 4}) {
        OneLongWalk arguments(word);
        std::size_t asks = 0;
        Interruption interruption(
            [](void* count) {
                return ++*static_cast<std::size_t*>(count) == 3 ? Interruption::Answer::stop
                                                                : Interruption::Answer::go_on;
            },
            &asks);
        EXPECT_THROW(rescore_candidates(std::move(arguments.roots), InsertedStrings(), std::move(arguments.scores),
                                        set_of({"a"}), threads, interruption),
                     Interrupted)
            << threads;
        EXPECT_EQ(asks, 3u) << threads;
    }
}

// Asks counted, on the calling thread; the `stop_at`-th ask stops the call.
struct CountedAsks {
    std::size_t asks = 0;
    std::size_t stop_at = 0;  // 0: never

    static Interruption::Answer ask(void* self) {
        auto* counted = static_cast<CountedAsks*>(self);
        return ++counted->asks == counted->stop_at ? Interruption::Answer::stop : Interruption::Answer::go_on;
    }
};

// Roots short enough to be scored on their neighbours' walks, each taking
// 2,017 trie steps: its first character, then a walk along the a-keys from
// each of its 63 a's. Shared beginnings would spare walks, so each root
// starts with a character of its own.
TEST(Interruption, RootsScoredOnTheirNeighboursWalksCountTheirSteps) {
    constexpr std::size_t roots_count = 1000, steps_per_root = 2017;
    InsertedScores scores;
    InsertedStrings roots, whitelist = set_of({"a"});
    for (std::size_t length = 1; length <= 63; ++length) scores.insert(std::string(length, 'a'), 0.5);
    for (std::size_t k = 0; k < roots_count; ++k) {
        std::string first;
        literal::encode_into(static_cast<char32_t>(0x100 + k), first);
        scores.insert(first, 1.0);
        whitelist.insert(first);
        roots.insert(first + std::string(63, 'a'));
    }
    CountedAsks counted;
    Interruption interruption(&CountedAsks::ask, &counted);
    rescore_candidates(std::move(roots), InsertedStrings(), std::move(scores), std::move(whitelist), 1, interruption);
    EXPECT_GE(counted.asks, roots_count * steps_per_root / WorkMeter::interval);
}

// Many keys and one short candidate: nearly all the work is sorting the keys
// and building the trie, at least a unit a key. The second ask stops the call
// there, on every thread count.
TEST(Interruption, SortingAndIndexingTheKeysAsksToo) {
    constexpr std::size_t keys = 4 * WorkMeter::interval;
    for (std::size_t threads : {1, 2, 4}) {
        InsertedScores scores(keys);
        for (std::size_t k = 0; k < keys; ++k) scores.insert("key " + std::to_string(k), 1.0);
        CountedAsks counted{0, 2};
        Interruption interruption(&CountedAsks::ask, &counted);
        EXPECT_THROW(
            rescore_candidates(set_of({"a"}), InsertedStrings(), std::move(scores), set_of({}), threads, interruption),
            Interrupted)
            << threads;
        EXPECT_EQ(counted.asks, 2u) << threads;
    }
}

#if !defined(_WIN32)
// A fork during a call with several threads, as a signal handler may make
// one: the child has only the thread that forked, which must leave the call
// rather than wait for the others forever. The parent stops its call.
TEST(Interruption, AChildForkedDuringTheCallLeavesItAtOnce) {
#if defined(UNDER_THREAD_SANITIZER)
    // ThreadSanitizer carries the history of the threads that stayed behind
    // into the child, and reports the child's clean-up of what they touched.
    GTEST_SKIP() << "no fork of a threaded process under ThreadSanitizer";
#endif
    OneLongWalk arguments(std::string(200000, 'a'));
    pid_t child = 0;
    Interruption interruption(
        [](void* forked) {
            pid_t pid = fork();
            if (pid == 0) return Interruption::Answer::threads_lost;
            *static_cast<pid_t*>(forked) = pid;
            return Interruption::Answer::stop;
        },
        &child);
    try {
        rescore_candidates(std::move(arguments.roots), InsertedStrings(), std::move(arguments.scores), set_of({"a"}), 2,
                           interruption);
        if (child == 0) _exit(1);
        ADD_FAILURE() << "the parent's call was not stopped";
    } catch (const ThreadsLost&) {
        _exit(child == 0 ? 0 : 2);
    } catch (const Interrupted&) {
        if (child == 0) _exit(3);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace morvanex::testing

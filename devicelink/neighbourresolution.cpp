#include "neighbourresolution.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// Shared by the caller and every call's thread: a call that outlives the caller's wait
// writes into it alone.
struct Answers {
    std::mutex lock;
    std::condition_variable came;
    std::vector<std::optional<AddressVerdict>> said;
    size_t left = 0;
};

void give(Answers* answers, size_t i, std::optional<AddressVerdict> verdict)
{
    const std::lock_guard<std::mutex> hold(answers->lock);
    answers->said[i] = std::move(verdict);
    --answers->left;
    answers->came.notify_all();
}
}

std::vector<AddressVerdict> ResolveEachAtOnce(const std::vector<AddressQuery>& queries,
    const ResolveOne& resolve, std::chrono::milliseconds bound, const std::atomic<bool>& cancel)
{
    const Clock::time_point until = Clock::now() + bound;
    const auto answers = std::make_shared<Answers>();
    answers->said.resize(queries.size());
    answers->left = queries.size();
    for (size_t i = 0; i < queries.size(); ++i) {
        // Starting hundreds of threads takes a while on a busy machine.
        if (cancel) {
            give(answers.get(), i, std::nullopt);
            continue;
        }
        try {
            // Detached: a call cannot be interrupted, and a cancelled check must not wait for it.
            std::thread([answers, resolve, query = queries[i], i] {
                give(answers.get(), i, resolve(query));
            }).detach();
        } catch (const std::system_error&) {
            give(answers.get(), i, std::nullopt);
        }
    }
    std::unique_lock<std::mutex> hold(answers->lock);
    // Woken now and then to see a cancel.
    while (answers->left > 0 && !cancel && Clock::now() < until)
        answers->came.wait_for(
            hold, std::min<Clock::duration>(std::chrono::milliseconds(50), until - Clock::now()));
    std::vector<AddressVerdict> verdicts;
    for (const std::optional<AddressVerdict>& v : answers->said)
        verdicts.push_back(v.value_or(AddressVerdict::unchecked(UncheckedReason::CannotResolve)));
    return verdicts;
}

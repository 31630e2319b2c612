#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tallyport {

// The ordered lines of a receipt in progress. Only the owning link's worker changes them; the
// shell reads the count from its own thread (it refuses to disconnect while lines are pending),
// so every operation is safe from any thread.
class PendingLines {
public:
    void Append(std::string line);
    bool RemoveLast();  // false when empty
    void Clear();
    std::size_t Count() const;
    bool Empty() const { return Count() == 0; }
    std::vector<std::string> Copy() const;
    // Runs `change` on the lines under the list's lock (filling placeholders in place).
    void Update(const std::function<void(std::vector<std::string>&)>& change);
    // Removes the first `count` lines (those that reached their file).
    void DropFront(std::size_t count);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace tallyport

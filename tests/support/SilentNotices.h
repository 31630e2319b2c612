#pragma once

#include <string>

#include "base/NoticeSink.h"

namespace tallyport::test {

// A notice sink that shows nothing, for the link engine, benchmarks and tools that need one but
// whose handlers show no notices worth checking. Any thread.
class SilentNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

}  // namespace tallyport::test

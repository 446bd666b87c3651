#pragma once

// FakeProcessActivity: a ProcessActivity for tests that keeps a log of
// every begin and end ("begin Recording video #1", "end #1") and how many
// activities are held now. Main executor only.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lumenhollow/model/process_activity.h"

namespace lumenhollow {

class FakeProcessActivity final : public ProcessActivity {
public:
    Token begin(std::string_view reason) override {
        const Token token = ++lastToken_;
        held_.insert(token);
        log_.push_back("begin " + std::string(reason) + " #" + std::to_string(token));
        return token;
    }
    void end(Token token) override {
        log_.push_back("end #" + std::to_string(token));
        held_.erase(token);
    }

    size_t held() const { return held_.size(); }
    const std::vector<std::string>& log() const { return log_; }

private:
    Token lastToken_ = 0;
    std::set<Token> held_;
    std::vector<std::string> log_;
};

}  // namespace lumenhollow

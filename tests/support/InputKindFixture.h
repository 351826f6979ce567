// An input kind on its own, pass by pass, with a device that takes every buffer whole: what it
// printed, every byte it gave to be sent, how each pass came out, and every wait it made.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Console.h"
#include "stream/FileSource.h"
#include "stream/InputKind.h"
#include "tests/support/TempDir.h"

namespace iqfeeder::testing {

class InputKindFixture : public ::testing::Test {
  protected:
    using Outcome = Pass::Outcome;

    InputSeams seams() {
        return {console, diagnostics,
                [this](std::uint32_t ms) {
                    sleeps.push_back(ms);
                    if (onSleep) {
                        onSleep(ms);
                    }
                },
                [this] { return stopAsked; }, [this] { ++idles; }};
    }
    FileSource source(const std::string& path, const FileLimits& limits = {}) {
        return {seams(), path, limits};
    }

    // Passes until one ends the input or the test stops it (or `limit` passes, after which the test
    // fails), taking over the successor a pass hands on. Returns how the last pass came out.
    Outcome drive(std::unique_ptr<InputKind> input, std::size_t limit = 100) {
        for (std::size_t pass = 0; pass < limit; ++pass) {
            if (stopAsked) {
                return Outcome::Stopped;
            }
            Pass next = input->next({});
            outcomes.push_back(next.outcome);
            switch (next.outcome) {
                case Outcome::Send:
                    sent.insert(sent.end(), next.data, next.data + next.size);
                    if (afterSend) {
                        afterSend(sends++);
                    }
                    break;
                case Outcome::Handover:
                    input = std::move(next.successor);
                    break;
                case Outcome::Skip:
                case Outcome::Pause:
                    break;
                case Outcome::Ended:
                case Outcome::CapReached:
                case Outcome::Refused:
                case Outcome::Stopped:
                    return next.outcome;
            }
        }
        ADD_FAILURE() << "the input did not end within " << limit << " passes";
        return Outcome::Skip;
    }

    std::string output() const { return out.str(); }
    std::string errorOutput() const { return errors.str(); }

    TempDir dir;
    std::ostringstream out;
    Console console{out};
    std::ostringstream errors;
    Console diagnostics{errors};
    std::vector<std::uint32_t> sleeps;
    std::function<void(std::uint32_t)> onSleep;
    std::function<void(std::size_t sendIndex)> afterSend;
    bool stopAsked = false;
    int idles = 0;
    std::vector<Outcome> outcomes;
    std::vector<std::uint8_t> sent;
    std::size_t sends = 0;
};

}  // namespace iqfeeder::testing

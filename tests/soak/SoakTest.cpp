// The randomized soak test: sequences of vault operations through the controllers and vaultry-cli,
// with faults injected, checked after every step against the model of what the user's files must
// be. A failure prints its shrunk sequence; replay it with RC_PARAMS="reproduce=..." or its seed.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>

#include "soak/SoakCommands.h"

namespace vaultry::soak {
namespace {

// VAULTRY_SOAK_UNTIL (seconds since the epoch): no sequence starts after it, so that a timed soak
// ends on time; a failure found before it is still shrunk as far as the time allows.
bool pastDeadline() {
    const char* until = std::getenv("VAULTRY_SOAK_UNTIL");
    return until && std::time(nullptr) >= std::atoll(until);
}

// A command that names itself on standard error as it starts, so that a run's log shows the
// sequence that led to a failure even when there is no time left to shrink it.
struct Logged : Cmd {
    CmdPtr inner;
    explicit Logged(CmdPtr c) : inner(std::move(c)) {}
    void checkPreconditions(const Plan& p) const override { inner->checkPreconditions(p); }
    void apply(Plan& p) const override { inner->apply(p); }
    void run(const Plan& p, World& w) const override {
        std::cerr << "[soak] ";
        inner->show(std::cerr);
        std::cerr << std::endl;
        inner->run(p, w);
    }
    void show(std::ostream& os) const override { inner->show(os); }
};

void runSequences() {
    if (pastDeadline()) return;
    ++stats().sequences;
    std::cerr << "[soak] a new sequence" << std::endl;
    World world;
    rc::state::check(Plan{}, world, [](const Plan& p) {
        return rc::gen::map(anyCommand(p),
                            [](CmdPtr c) -> CmdPtr { return std::make_shared<Logged>(std::move(c)); });
    });
}

// Vault operations, with every kind of fault.
RC_GTEST_PROP(VaultSoak, EveryStepKeepsTheUsersFiles, ()) { runSequences(); }

}  // namespace
}  // namespace vaultry::soak

// Every failed assertion as it happens, with where it was: RapidCheck reports a property's
// failure only by its own message, and shrinking may hide the first one.
class PrintFailures : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& r) override {
        if (r.failed())
            std::cerr << "failed assertion at " << (r.file_name() ? r.file_name() : "?") << ":"
                      << r.line_number() << ": " << r.summary() << std::endl;
    }
};

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new PrintFailures);
    const int rc = RUN_ALL_TESTS();
    auto& s = vaultry::soak::stats();
    s.failures = ::testing::UnitTest::GetInstance()->failed_test_count();
    if (const char* report = std::getenv("VAULTRY_SOAK_REPORT")) {
        std::ofstream out(report, std::ios::app);
        s.write(out);
    }
    return rc;
}

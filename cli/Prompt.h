#pragma once
#include <string>

#include "cli/Cli.h"
#include "vault/PasswordVerifier.h"

// Every question vaultry-cli asks and every pass phrase it reads goes through here.
namespace vaultry::cli::prompt {

// Asks a yes/no question on the terminal; -y answers it beforehand. Without a terminal (and
// without -y) it is a usage error; a "no" ends the run as declined. `command` names the
// command in the usage error.
void confirm(Context& ctx, const std::string& question, const std::string& command);

// The same question for a choice a script should not make unawares: -y answers it beforehand,
// and without a terminal the answer is no.
bool ask(Context& ctx, const std::string& question);

// One pass phrase from the source the command line chose: --password-stdin, --password-fd,
// --password-file (one line each, so a change reads two), else typed at the terminal without
// echo. Nothing to read from is a usage error.
password::PassPhrase secret(Context& ctx, const std::string& prompt);

// True when the pass phrase comes from the terminal, where a new one is typed twice.
bool fromTerminal(const Context& ctx);

}  // namespace vaultry::cli::prompt

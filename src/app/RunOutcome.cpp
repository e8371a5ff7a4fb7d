#include "app/RunOutcome.h"

namespace app {

std::string DescribeOutcome(const TclRunOutcome& outcome) {
  std::string text = "exit=" + std::to_string(outcome.Status) + " " + outcome.Summary;
  // The place in angle brackets: a path or address may itself hold blanks
  // and colons.
  if (!outcome.Where.empty()) text += ": <" + outcome.Where + ">";
  if (!outcome.Error.empty()) text += ": " + outcome.Error;
  return text;
}

std::string ExitStatusHelp() {
  return "  0  the update was installed, or there was nothing to install\n"
         "  3  the update list could not be fetched\n"
         "  4  a file of the update could not be fetched\n"
         "  5  verification refused the site (signature, digest, expiry, version)\n"
         "  6  installation failed; the application folder was rolled back\n"
         "  7  closed by the user (close question answered Yes, or SIGTERM)\n";
}

}  // namespace app

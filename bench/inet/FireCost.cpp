#include "FireCost.h"

#include <optional>

#include "inet/clConnection.h"

namespace bench {
namespace {

class TclEmptyAction final : public TclInternetAction {
 public:
  explicit TclEmptyAction(TclInternetConnection* connection) : TclInternetAction(connection, nullptr) { Register(); }
  ~TclEmptyAction() override { Unregister(); }
  void Execute() override {}
};

}  // namespace

Sample TimeEmptyFires(long long count, int timeOut, bool oneCore) {
  std::optional<KeepToOneCore> keep;
  if (oneCore) keep.emplace();
  TclInternetConnection connection;
  TclEmptyAction action(&connection);
  action.Fire(timeOut);  // starts the worker outside the timed part
  long long fired = 0;
  return TimeInProcess(
      "empty action",
      [&] {
        for (; fired < count; ++fired) action.Fire(timeOut);
        return fired;
      },
      count);
}

}  // namespace bench

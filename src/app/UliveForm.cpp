// The stored description of the updater's window: what the designer would
// have saved. Only values that differ from their defaults are here.
#include "app/Ulive.h"

namespace app {

std::string_view FrmLiveDescription() {
  return R"({
  "Name": "frmLive",
  "Caption": "Quorin自动升级",
  "ClientWidth": 324,
  "ClientHeight": 70,
  "Position": "poScreenCenter",
  "BorderIcons": ["biSystemMenu"],
  "Font": {"Name": "宋体", "Height": -12},
  "lbl": {
    "Name": "lbl", "Left": 24, "Top": 10, "Width": 102, "Height": 12,
    "Caption": "获取更新列表.....", "Transparent": true
  },
  "clProgressBar1": {
    "Name": "clProgressBar1", "Left": 24, "Top": 26, "Width": 281, "Height": 15,
    "InternetControl": "dl"
  },
  "Bevel1": {
    "Name": "Bevel1", "Left": 22, "Top": 24, "Width": 285, "Height": 19
  },
  "Timer1": {"Name": "Timer1"},
  "dl": {
    "Name": "dl", "TryCount": 10, "InternetAgent": "QuorinPellix LiveUpdate"
  }
})";
}

}  // namespace app

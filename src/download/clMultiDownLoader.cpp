#include "download/clMultiDownLoader.h"

#include "inet/clConnection.h"
#include "rtl/PropertyStreaming.h"
#include "workers/CustomThreader.h"

void TclMultiDownLoader::DefineProperties(rtl::Properties& p) {
  p.Reference(
      "Connection", [this] { return static_cast<rtl::Component*>(Connection()); },
      [this](rtl::Component* c) { SetConnection(dynamic_cast<TclInternetConnection*>(c)); });
  p.Items("DownLoadList", &DownLoadList());
  p.Value<std::string>(
       "LocalFolder", [this] { return LocalFolder(); },
       [this](const std::string& v) { SetLocalFolder(v); })
      .Default("");
  p.Value<int>(
       "TryCount", [this] { return TryCount(); }, [this](int v) { SetTryCount(v); })
      .Default(5);
  p.Value<int>(
       "TimeOut", [this] { return TimeOut(); }, [this](int v) { SetTimeOut(v); })
      .Default(5000);
  p.Value<int>(
       "ReconnectAfter", [this] { return ReconnectAfter(); },
       [this](int v) { SetReconnectAfter(v); })
      .Default(5000);
  p.Value<int>(
       "BatchSize", [this] { return BatchSize(); }, [this](int v) { SetBatchSize(v); })
      .Default(8192);
  p.Value<int>(
       "PreviewCharCount", [this] { return PreviewCharCount(); },
       [this](int v) { SetPreviewCharCount(v); })
      .Default(256);
  p.Value<int>(
       "DefaultChar", [this] { return static_cast<unsigned char>(DefaultChar()); },
       [this](int v) { SetDefaultChar(static_cast<char>(v)); })
      .Default(128);
  p.Value<bool>(
       "CorrectResourceTime", [this] { return CorrectResourceTime(); },
       [this](bool v) { SetCorrectResourceTime(v); })
      .Default(true);
  p.Value<std::int64_t>(
       "MinResourceSize", [this] { return MinResourceSize(); },
       [this](std::int64_t v) { SetMinResourceSize(v); })
      .Default(0);
  p.Value<std::int64_t>(
       "MaxResourceSize", [this] { return MaxResourceSize(); },
       [this](std::int64_t v) { SetMaxResourceSize(v); })
      .Default(0);
  p.Value<std::string>(
       "Proxy", [this] { return Proxy(); }, [this](const std::string& v) { SetProxy(v); })
      .Default("");
  p.Value<std::string>(
       "ProxyBypass", [this] { return ProxyBypass(); },
       [this](const std::string& v) { SetProxyBypass(v); })
      .Default("");
  p.Value<std::string>(
       "InternetAgent", [this] { return InternetAgent(); },
       [this](const std::string& v) { SetInternetAgent(v); })
      .Default(std::string(kDefaultInternetAgent));
  p.Value<bool>(
       "PassiveFTPMode", [this] { return PassiveFTPMode(); },
       [this](bool v) { SetPassiveFTPMode(v); })
      .Default(false);
  p.Value<bool>(
       "DoNotGetResourceInfo", [this] { return DoNotGetResourceInfo(); },
       [this](bool v) { SetDoNotGetResourceInfo(v); })
      .Default(false);
  p.Value<bool>(
       "RetryPermanentErrors", [this] { return RetryPermanentErrors(); },
       [this](bool v) { SetRetryPermanentErrors(v); })
      .Default(true);
  p.Value<bool>(
       "HonorRetryAfter", [this] { return HonorRetryAfter(); },
       [this](bool v) { SetHonorRetryAfter(v); })
      .Default(false);
  p.Value<bool>(
       "HeadFallback", [this] { return HeadFallback(); }, [this](bool v) { SetHeadFallback(v); })
      .Default(false);
  p.Value<bool>(
       "KeepSizeWithoutHeaders", [this] { return KeepSizeWithoutHeaders(); },
       [this](bool v) { SetKeepSizeWithoutHeaders(v); })
      .Default(false);
  p.Value<bool>(
       "SplitSegments", [this] { return SplitSegments(); },
       [this](bool v) { SetSplitSegments(v); })
      .Default(false);
  p.Value<bool>(
       "HeadOnlyInfo", [this] { return HeadOnlyInfo(); }, [this](bool v) { SetHeadOnlyInfo(v); })
      .Default(false);
  p.Value<bool>(
       "ReuseResourceInfo", [this] { return ReuseResourceInfo(); },
       [this](bool v) { SetReuseResourceInfo(v); })
      .Default(false);
}

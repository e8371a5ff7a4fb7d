// The update bracket shared by the request header, builder and items: open,
// run the body, close; the close runs also when the body throws, so the
// owner's update counter never stays raised.
#pragma once

namespace http_detail {

template <class Open, class Close, class Body>
void WithinBracket(Open&& open, Close&& close, Body&& body) {
  open();
  try {
    body();
  } catch (...) {
    close();
    throw;
  }
  close();
}

}  // namespace http_detail

// liveupdate-serve: serves a folder over HTTP on 127.0.0.1 for a local update
// site (see SiteServer.h), until SIGTERM or SIGINT.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include <pthread.h>
#include <sys/stat.h>

#include "SiteServer.h"

int main(int argc, char** argv) {
  CLI::App cli{"Serves a folder over HTTP on 127.0.0.1 (GET, HEAD, byte ranges)."};
  serve::SiteOptions options;
  int port = 0;
  cli.add_option("--root", options.root, "folder to serve")
      ->required()
      ->check(CLI::ExistingDirectory);
  cli.add_option("--port", port, "port to listen on; 0 picks a free one")
      ->check(CLI::Range(0, 65535));
  cli.add_flag("--gzip", options.gzip, "send files gzip-compressed to clients that accept it");
  cli.add_option("--rate", options.rateLimit,
                 "per-connection limit in bytes per second; 0 is no limit");
  CLI11_PARSE(cli, argc, argv);

  // Signals are taken by this thread only: blocked before the server's threads
  // exist, so they inherit the mask, and then waited for.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A client that goes away mid-answer must not end the server.
  std::signal(SIGPIPE, SIG_IGN);

  serve::SiteServer server(options);
  int bound = server.Start(port);
  if (bound < 0) {
    std::cerr << "liveupdate-serve: cannot listen on 127.0.0.1:" << port << "\n";
    return 1;
  }
  std::cout << "listening on http://127.0.0.1:" << bound << std::endl;

  int received = 0;
  sigwait(&signals, &received);
  server.Stop();
  return 0;
}

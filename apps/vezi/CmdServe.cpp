// vezi serve: the suite's windows in the browser. Serves one project folder on this computer (see
// web/WebServer.h for what it offers and its security model) until Ctrl-C; a running conversion finishes
// and an import rolls back before the program ends.
#include <pthread.h>

#include <csignal>
#include <iostream>
#include <string>
#include <thread>

#include "Commands.h"
#include "web/WebServer.h"

namespace vezi {

namespace {

void RunServe(const vez::TServeOptions& options) {
  // SIGINT and SIGTERM go to one thread that waits for them; every other thread (the server's too) has them
  // blocked, so a signal never interrupts a request or a library call.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  vez::TWebServer server(options);
  std::cout << "Serving \"" << server.Folder() << "\" at " << server.Url() << std::endl;
  if (!server.Loopback())
    std::cerr << "vezi: warning: listening on " << options.Bind
              << ", not only on this computer's loopback address: anyone who can reach it and learns the token "
                 "can read and change the libraries of the folder\n";
  std::cerr << "Press Ctrl-C to stop.\n";

  std::thread waiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
  });
  server.Run();
  pthread_kill(waiter.native_handle(), SIGTERM);  // ends the wait when the server stopped by itself
  waiter.join();
  std::cerr << "Stopping: waiting for running work to finish or roll back\n";
  server.WaitForJobs();
  SetExitCode(kExitOk);
}

}  // namespace

void RegisterServeCommands(CLI::App& app) {
  auto options = std::make_shared<vez::TServeOptions>();
  auto uploadMb = std::make_shared<std::int64_t>(options->UploadLimit >> 20);
  const auto byDefault = [](const std::string& value) { return " (default " + value + ")"; };
  auto* cmd = app.add_subcommand("serve", "Serve a project folder to a web browser on this computer");
  cmd->add_option("FOLDER", options->Folder, "The project folder (default: the current folder)");
  cmd->add_option("--port", options->Port,
                  "Port to listen on; 0 takes a free one" + byDefault(std::to_string(options->Port)))
      ->check(CLI::Range(0, 65535));
  cmd->add_option("--bind", options->Bind,
                  "Address to listen on" + byDefault(options->Bind + ", this computer only") +
                      "; another address is reachable from other computers");
  cmd->add_option("--upload-limit", *uploadMb,
                  "Largest file an import may upload, in MB" + byDefault(std::to_string(*uploadMb)))
      ->check(CLI::Range(1, 4096));
  cmd->footer(
      "The first line on standard output is the address to open, with its token: Serving \"FOLDER\" at "
      "http://ADDR:PORT/?token=T. Every request needs the token (the first visit turns it into a cookie); paths "
      "never leave FOLDER. Ctrl-C stops the server.\n");
  cmd->callback([options, uploadMb] {
    options->UploadLimit = *uploadMb << 20;
    RunServe(*options);
  });
}

}  // namespace vezi

#include "support/scripted_http_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <stdexcept>
#include <utility>

namespace tovrel::test {

ScriptedServer::ScriptedServer(std::initializer_list<ServerStep> steps, std::string address)
    : address_(std::move(address)) {
  QJsonArray script;
  for (const ServerStep& step : steps) {
    QJsonObject entry;
    entry["reply"] = QString::fromLatin1(step.reply.data(), qsizetype(step.reply.size()));
    entry["chunk"] = step.chunk;
    entry["chunk_delay"] = step.chunk_delay;
    entry["delay"] = step.delay;
    entry["keep_open"] = step.keep_open;
    entry["silent"] = step.silent;
    entry["line_request"] = step.line_request;
    script.append(entry);
  }
  const std::string script_path = dir_.File("script.json");
  WriteFile(script_path, QJsonDocument(script).toJson().toStdString());
  process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      kPython, SourcePath("scripts/http_test_server.py"), script_path, dir_.path(), address_});
  const std::string first = process_->ReadLine();
  if (first.rfind("PORT ", 0) != 0) throw std::runtime_error("http_test_server: " + first);
  port_ = std::stoi(first.substr(5));
}

std::string ScriptedServer::Url(const std::string& path) const {
  const bool v6 = address_.find(':') != std::string::npos;
  return (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_) + path;
}

std::string ScriptedServer::NextRequest(std::chrono::milliseconds timeout) {
  const std::string line = process_->ReadLine(timeout);
  if (line.rfind("REQUEST ", 0) != 0) throw std::runtime_error("http_test_server: " + line);
  return ReadFile(dir_.File("request-" + line.substr(8) + ".bin"));
}

void ScriptedServer::WaitConnected(std::chrono::milliseconds timeout) {
  const std::string line = process_->ReadLine(timeout);
  if (line != "CONNECTED") throw std::runtime_error("http_test_server: " + line);
}

std::string HttpReply(const std::string& status, const std::string& headers,
                      const std::string& body) {
  return status + "\r\n" + headers + "\r\n" + body;
}

}  // namespace tovrel::test

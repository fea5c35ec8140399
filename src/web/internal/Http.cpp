#include "web/internal/Http.h"

#include <charconv>
#include <new>
#include <sstream>

namespace vez::web {

std::string Query(const httplib::Request& req, const char* name, bool required) {
  if (!req.has_param(name)) {
    if (required) throw EHttpError(400, std::string("The parameter \"") + name + "\" is missing");
    return {};
  }
  return req.get_param_value(name);
}

std::int64_t QueryInt(const httplib::Request& req, const char* name, std::int64_t fallback, std::int64_t lo,
                      std::int64_t hi) {
  if (!req.has_param(name)) return fallback;
  const std::string text = req.get_param_value(name);
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
    throw EHttpError(400, std::string("The parameter \"") + name + "\" must be a whole number from " +
                              std::to_string(lo) + " to " + std::to_string(hi));
  return value;
}

bool QueryBool(const httplib::Request& req, const char* name) {
  const std::string v = req.has_param(name) ? req.get_param_value(name) : std::string();
  return v == "1" || v == "true";
}

Json Body(const httplib::Request& req) {
  // Nesting deeper than any request of this application needs is refused before it is built.
  constexpr int kMaxDepth = 32;
  Json body;
  try {
    body = Json::parse(req.body, [](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxDepth) throw EHttpError(400, "The request body is nested too deeply");
      return true;
    });
  } catch (const Json::parse_error& e) {
    throw EHttpError(400, std::string("The request body is not valid JSON: ") + e.what());
  }
  if (!body.is_object()) throw EHttpError(400, "The request body must be a JSON object");
  return body;
}

namespace {
const Json& MemberOf(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) throw EHttpError(400, std::string("The member \"") + name + "\" is missing");
  return *it;
}
}  // namespace

std::string StringMember(const Json& object, const char* name, bool required) {
  if (!required && !object.contains(name)) return {};
  const Json& v = MemberOf(object, name);
  if (!v.is_string()) throw EHttpError(400, std::string("The member \"") + name + "\" must be a text");
  return v.get<std::string>();
}

bool BoolMember(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return false;
  if (!it->is_boolean()) throw EHttpError(400, std::string("The member \"") + name + "\" must be true or false");
  return it->get<bool>();
}

std::int64_t IntMember(const Json& object, const char* name, std::int64_t lo, std::int64_t hi) {
  const Json& v = MemberOf(object, name);
  if (!v.is_number_integer() || v.get<std::int64_t>() < lo || v.get<std::int64_t>() > hi)
    throw EHttpError(400, std::string("The member \"") + name + "\" must be a whole number from " +
                              std::to_string(lo) + " to " + std::to_string(hi));
  return v.get<std::int64_t>();
}

std::int64_t IntMember(const Json& object, const char* name) {
  const Json& v = MemberOf(object, name);
  if (!v.is_number_integer()) throw EHttpError(400, std::string("The member \"") + name + "\" must be a whole number");
  return v.get<std::int64_t>();
}

void Reply(httplib::Response& res, const std::function<void(JsonWriter&)>& fill, int status) {
  std::ostringstream out;
  JsonWriter json(out, JsonWriter::Layout::Compact);
  fill(json);
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(out.str(), "application/json");
}

void ReplyJson(httplib::Response& res, std::string json, int status) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.body = std::move(json);  // set_content would copy it
  res.set_header("Content-Type", "application/json");
}

void ReplyError(httplib::Response& res, int status, const std::string& message) {
  Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("error", message).EndObject(); }, status);
}

THandler TRoutes::Guard(THandler handler) {
  // The library names files by their full paths; a page names them from the served folder.
  const auto shown = [&folder = context_.Folder](const std::string& message) { return folder.Shown(message); };
  return [handler = std::move(handler), shown](const httplib::Request& req, httplib::Response& res) {
    try {
      handler(req, res);
    } catch (const EHttpError& e) {
      ReplyError(res, e.Status(), shown(e.what()));
    } catch (const EParameterError& e) {
      ReplyError(res, 400, shown(e.what()));  // a parameter out of its range: the library's message
    } catch (const EFileExists& e) {
      ReplyError(res, 409, shown(e.what()));  // the page asks whether to replace it
    } catch (const Exception& e) {
      // The library refused: its message, nothing changed (every change runs in a transaction).
      ReplyError(res, 422, shown(e.what()));
    } catch (const std::bad_alloc&) {
      ReplyError(res, 507, "Not enough memory for this request");
    } catch (const std::exception& e) {
      ReplyError(res, 500, shown(e.what()));
    }
  };
}

void TRoutes::Get(const std::string& pattern, THandler handler) { server_.Get(pattern, Guard(std::move(handler))); }
void TRoutes::Post(const std::string& pattern, THandler handler) { server_.Post(pattern, Guard(std::move(handler))); }

}  // namespace vez::web

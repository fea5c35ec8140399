// vezi settings: the program identity and program settings, and with --project a project's settings, as text or
// JSON.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "output/JsonWriter.h"
#include "settings/IniConsts.h"

namespace vezi {

namespace {

// A small value tree printed either as indented "name: value" text or as JSON.
struct Node {
  enum class Kind { Object, Array, String, Number, Bool } kind = Kind::Object;
  std::string scalar;
  std::vector<std::pair<std::string, Node>> members;  // Object
  std::vector<Node> items;                            // Array

  // Settings texts are bytes: files from the suite's Windows installations hold code page 1252, which is shown
  // as UTF-8 like the rest of the output.
  static Node Text(std::string s) {
    if (!vez::IsValidUtf8(s)) s = vez::ToUtf8(s, 1252);
    return Node{Kind::String, std::move(s), {}, {}};
  }
  static Node Int(std::int64_t v) { return Node{Kind::Number, std::to_string(v), {}, {}}; }
  static Node Bool(bool v) { return Node{Kind::Bool, v ? "true" : "false", {}, {}}; }
  static Node Float(double v) {
    if (!std::isfinite(v)) return Text(vez::FloatToStr(v));
    vez::DecimalSeparatorScope dot('.');
    return Node{Kind::Number, vez::FloatToStr(v), {}, {}};
  }
  static Node Array() { return Node{Kind::Array, {}, {}, {}}; }
  Node& Add(std::string name, Node value) {
    members.emplace_back(std::move(name), std::move(value));
    return members.back().second;
  }
};

void WriteJson(vez::JsonWriter& json, const Node& node) {
  switch (node.kind) {
    case Node::Kind::String: json.String(node.scalar); return;
    case Node::Kind::Number:
    case Node::Kind::Bool: json.Raw(node.scalar); return;
    case Node::Kind::Object:
      json.BeginObject();
      for (const auto& [name, value] : node.members) {
        json.Key(name);
        WriteJson(json, value);
      }
      json.EndObject();
      return;
    case Node::Kind::Array:
      json.BeginArray();
      for (const Node& item : node.items) WriteJson(json, item);
      json.EndArray();
      return;
  }
}

void PrintJson(std::ostream& out, const Node& node) {
  vez::JsonWriter json(out, vez::JsonWriter::Layout::Indented);
  WriteJson(json, node);
}

void PrintText(std::ostream& out, const Node& node, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  const auto printMember = [&](const std::string& name, const Node& value) {
    if (value.kind == Node::Kind::Object || value.kind == Node::Kind::Array) {
      out << pad << name << ":\n";
      PrintText(out, value, indent + 2);
    } else {
      out << pad << name << ": " << value.scalar << "\n";
    }
  };
  if (node.kind == Node::Kind::Object)
    for (const auto& [name, value] : node.members) printMember(name, value);
  else if (node.kind == Node::Kind::Array)
    for (std::size_t i = 0; i < node.items.size(); ++i) printMember("[" + std::to_string(i) + "]", node.items[i]);
}

const char* ProductText(vez::TProduct p) {
  switch (p) {
    case vez::TProduct::proTessaphon: return "proTessaphon";
    case vez::TProduct::proServer: return "proServer";
    case vez::TProduct::proTPessential: return "proTPessential";
  }
  return "?";
}

Node IdentityNode() {
  Node n;
  n.Add("Product", Node::Text(ProductText(vez::Product())));
  n.Add("ProductName", Node::Text(vez::ProductName()));
  n.Add("VersionKey", Node::Text(vez::VersionKey()));
  n.Add("VersionNr", Node::Int(vez::VersionNr()));
  n.Add("MainProgName", Node::Text(vez::MainProgName()));
  n.Add("CurrentPrjVersion", Node::Int(vez::CurrentPrjVersion()));
  n.Add("IniFilePath", Node::Text(vez::IniFilePath()));
  n.Add("SettingsFile", Node::Text(vez::GetIniFile()->FileName()));
  n.Add("SystemPath", Node::Text(vez::SystemPath()));
  n.Add("SystemLibPathDefault", Node::Text(vez::SystemLibPathDefault()));
  return n;
}

Node ProgramNode(const vez::TProgramSettings& s) {
  Node n;
  n.Add("GlobdataPath", Node::Text(s.GlobdataPath));
  n.Add("SharedGlobdataPath", Node::Text(s.SharedGlobdataPath));
  n.Add("GlobLibPath", Node::Text(s.GlobLibPath));
  n.Add("HelpFile", Node::Text(s.HelpFile));
  n.Add("SystemPathLang", Node::Text(s.SystemPathLang));
  n.Add("LibPathLang", Node::Text(s.LibPathLang));
  n.Add("LangLibPath", Node::Text(s.LangLibPath));
  n.Add("BaseLangLibPath", Node::Text(s.BaseLangLibPath));
  n.Add("LangSystemPath", Node::Text(s.LangSystemPath));
  n.Add("BaseLangSystemPath", Node::Text(s.BaseLangSystemPath));
  n.Add("HistEntries", Node::Int(s.HistEntries));
  auto& dc = n.Add("DC", Node{});
  dc.Add("ClientSocket", Node::Int(s.DC.ClientSocket));
  dc.Add("SocketSrvSocket", Node::Int(s.DC.SocketSrvSocket));
  dc.Add("Priority", Node::Int(s.DC.Priority));
  dc.Add("Instances", Node::Int(s.DC.Instances));
  dc.Add("Threads", Node::Int(s.DC.Threads));
  dc.Add("DistribPath", Node::Text(s.DC.DistribPath));
  dc.Add("PCListFileName", Node::Text(s.DC.PCListFileName));
  dc.Add("Reconnect", Node::Bool(s.DC.Reconnect));
  dc.Add("ReconnectTime", Node::Int(s.DC.ReconnectTime));
  auto& sys = n.Add("System", Node{});
  sys.Add("AltBmpPrintOut", Node::Bool(s.System.AltBmpPrintOut));
  sys.Add("MaxBmpPrintSize", Node::Int(s.System.MaxBmpPrintSize));
  sys.Add("ClipPlane3D", Node::Float(s.System.ClipPlane3D));
  sys.Add("GraphicsPrinter", Node::Text(s.System.GraphicsPrinter));
  sys.Add("DefaulFontname", Node::Text(s.System.DefaulFontname));
  n.Add("DrivingRightSide", Node::Bool(s.DrivingRightSide));
  n.Add("CheckUpdate", Node::Bool(s.CheckUpdate));
  n.Add("CheckPeriod", Node::Int(s.CheckPeriod));
  n.Add("CheckConfrm", Node::Bool(s.CheckConfrm));
  n.Add("CheckedLast", Node::Int(s.CheckedLast));
  n.Add("ProxySettings", Node::Text(s.ProxySettings));
  n.Add("RunKernelDll", Node::Text(s.RunKernelDll));
  return n;
}

Node ProjectNode(const std::string& folder) {
  Node n;
  n.Add("File", Node::Text(vez::ProjectFileName(folder)));

  vez::TGraphicsSettings g;
  vez::ReadGraphicsSettings(folder, g);
  auto& graphics = n.Add("graphics", Node{});
  graphics.Add("UnitLengthScale", Node::Int(static_cast<int>(g.UnitLengthScale)));
  graphics.Add("GridSeed", Node::Int(static_cast<int>(g.GridSeed)));

  vez::TGeoDBSettings geo;
  vez::ReadGeoDBSettings(folder, geo);
  auto& geoNode = n.Add("GeoDB", Node{});
  geoNode.Add("BldgHeight", Node::Float(geo.BldgHeight));
  geoNode.Add("RelHeightEFH", Node::Float(geo.RelHeightEFH));
  geoNode.Add("FloorHeight", Node::Float(geo.FloorHeight));
  geoNode.Add("RecFacDist", Node::Float(geo.RecFacDist));
  geoNode.Add("RoadHouseNoAlignment", Node::Int(static_cast<int>(geo.RoadHouseNoAlignment)));
  geoNode.Add("UsageArea", Node::Int(geo.UsageArea));

  vez::TNumberingSettings num;
  vez::ReadNumberingSettings(folder, num);
  auto& numbering = n.Add("numbering", Node{});
  numbering.Add("RecFmtIdent", Node::Text(num.RecFmtIdent));
  numbering.Add("RecSrtIdent", Node::Text(num.RecSrtIdent));
  numbering.Add("SrcFmtIdent", Node::Text(num.SrcFmtIdent));
  numbering.Add("SrcSrtIdent", Node::Text(num.SrcSrtIdent));
  numbering.Add("PhotoFmtIdent", Node::Text(num.PhotoFmtIdent));
  numbering.Add("PhotoSrtIdent", Node::Text(num.PhotoSrtIdent));

  vez::TUsages usages;
  vez::ReadUsages(folder, usages);
  auto& usageList = n.Add("usages", Node::Array());
  for (std::size_t i = 0; i < usages.size(); ++i) {
    Node u;
    u.Add("Id", Node::Text(vez::UsageIds[i]));
    u.Add("Short", Node::Text(usages[i].Short));
    u.Add("Descr", Node::Text(usages[i].Descr));
    usageList.items.push_back(std::move(u));
  }

  vez::TTimeSlices slices;
  vez::ReadTimeSlices(folder, slices);
  auto& sliceList = n.Add("time slices DEN", Node::Array());
  for (const auto& slice : slices) {
    Node s;
    s.Add("Ident", Node::Text(slice.Ident));
    s.Add("HourCount", Node::Int(slice.HourCount));
    s.Add("Hours", Node::Text(vez::GetBereich(slice.Hours)));
    sliceList.items.push_back(std::move(s));
  }

  auto& standards = n.Add("EnabledStandards", Node::Array());
  for (const auto& item : vez::ReadStdEnabledState(folder)) {
    Node s;
    s.Add("StandardId", Node::Int(item.StandardId));
    s.Add("Enabled", Node::Bool(item.Enabled));
    standards.items.push_back(std::move(s));
  }
  return n;
}

}  // namespace

void RegisterSettingsCommands(CLI::App& app) {
  struct Options {
    std::string project;
    std::string format = "text";
    std::string program;
    bool ini = false;
  };
  auto options = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("settings", "Print the program settings and, with --project, a project's settings");
  cmd->add_option("--project", options->project, "Project folder whose Project.tp is read");
  cmd->add_option("--format", options->format, "Output format")->check(CLI::IsMember({"text", "json"}));
  cmd->add_option("--program", options->program,
                  "Take the program identity from this program file name instead of vezi's own");
  cmd->add_flag("--ini", options->ini, "Read the INI file next to the program instead of the per-user store");
  cmd->callback([options] {
    if (!options->program.empty() || options->ini) {
      const std::string program = options->program.empty() ? vez::ProgramFileName() : options->program;
      std::vector<std::string> arguments;
      if (options->ini) arguments.emplace_back("-INI=");
      vez::InitializeIniConsts(program, arguments);
    }
    if (!options->project.empty() && !std::filesystem::is_directory(options->project))
      throw vez::Exception(vez::Format("Project folder \"%s\" does not exist", options->project));
    Node root;
    root.Add("identity", IdentityNode());
    root.Add("program", ProgramNode(vez::ProgramSettings()));
    if (!options->project.empty()) {
      root.Add("project", ProjectNode(options->project));
      // The settings of a folder without its file are the defaults: say so, so they are not taken for its own.
      const std::string file = vez::ProjectFileName(options->project);
      if (std::error_code ec; !std::filesystem::is_regular_file(file, ec))
        std::cerr << "vezi: the project's settings file \"" << file << "\" is missing; its defaults are shown\n";
    }
    if (options->format == "json") {
      PrintJson(std::cout, root);
      std::cout << '\n';
    } else {
      PrintText(std::cout, root, 0);
    }
    SetExitCode(kExitOk);
  });
}

}  // namespace vezi

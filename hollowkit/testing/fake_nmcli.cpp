#include "hollowkit/testing/fake_nmcli.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hollowkit {
namespace {

// The script; @STATE@ is replaced by the state folder. Terse output escapes
// ":" and "\" as nmcli does.
constexpr std::string_view kScript = R"SH(#!/bin/sh
state='@STATE@'
printf '%s\n' "$*" >> "$state/calls"
hang=$(cat "$state/hang")
if [ -n "$hang" ]; then
  case "$*" in *"$hang"*) exec sleep 600 ;; esac
fi
case "$*" in
"-t -f DEVICE,TYPE device") cat "$state/devices"; exit 0 ;;
"radio wifi") cat "$state/radio"; exit 0 ;;
"radio wifi on") echo enabled > "$state/radio"; exit 0 ;;
"radio wifi off") echo disabled > "$state/radio"; exit 0 ;;
esac
if [ "$1" = connection ] && [ "$2" = add ]; then
  name=; ssid=
  while [ $# -gt 0 ]; do
    case "$1" in
    con-name) name=$2; shift ;;
    ssid) ssid=$2; shift ;;
    esac
    shift
  done
  printf '%s' "$ssid" > "$state/profile_ssid"
  echo "Connection '$name' (6c0d2a0e-1111-4000-8000-000000000001) successfully added."
  exit 0
fi
if [ "$1" = connection ] && [ "$2" = delete ]; then
  if [ -f "$state/profile_ssid" ]; then
    rm -f "$state/profile_ssid" "$state/active"
    echo "Connection '$4' (6c0d2a0e-1111-4000-8000-000000000001) successfully deleted."
    exit 0
  fi
  echo "Error: $4 - no such connection profile." >&2
  exit 10
fi
if [ "$1" = --wait ] && [ "$3" = connection ] && [ "$4" = up ]; then
  file=; previous=
  for argument in "$@"; do
    [ "$previous" = passwd-file ] && file=$argument
    previous=$argument
  done
  if [ -n "$file" ]; then
    if [ "$(stat -c %a "$file")" = 600 ] && cmp -s "$file" "$state/expected_psk"; then
      echo "ok $file" >> "$state/psk_checks"
    else
      echo "bad $file" >> "$state/psk_checks"
    fi
  fi
  failing=$(cat "$state/failing")
  if [ "$failing" -gt 0 ]; then
    echo $((failing - 1)) > "$state/failing"
    cat "$state/failure_text" >&2
    exit 4
  fi
  if [ -f "$state/associated" ]; then cp "$state/associated" "$state/active"; else cp "$state/profile_ssid" "$state/active"; fi
  echo "Connection successfully activated (D-Bus active path: /org/freedesktop/NetworkManager/ActiveConnection/7)"
  exit 0
fi
if [ "$1" = -t ] && [ "$3" = ACTIVE,SSID ]; then
  echo 'no:Neighbours\: Wi-Fi'
  if [ -f "$state/active" ]; then
    printf 'yes:%s\n' "$(sed 's/\\/\\\\/g; s/:/\\:/g' "$state/active")"
  fi
  exit 0
fi
echo "Error: unexpected arguments: $*" >&2
exit 2
)SH";

bool writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

}  // namespace

Result<std::unique_ptr<FakeNmcli>, std::string> FakeNmcli::create(const FakeNmcliOptions& options) {
    std::string folder = (std::filesystem::temp_directory_path() / "fake-nmcli-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        return unexpected(std::string("mkdtemp failed"));
    }
    const std::filesystem::path dir(folder);
    std::string script(kScript);
    script.replace(script.find("@STATE@"), 7, folder);

    std::string devices;
    for (const auto& [device, type] : options.devices) {
        devices += device + ":" + type + "\n";
    }
    bool ok = writeFile(dir / "nmcli", script) && writeFile(dir / "calls", "") && writeFile(dir / "devices", devices) &&
              writeFile(dir / "radio", options.radioOn ? "enabled\n" : "disabled\n") &&
              writeFile(dir / "failing", std::to_string(options.failingActivations) + "\n") &&
              writeFile(dir / "failure_text", options.failureText + "\n") && writeFile(dir / "hang", options.hangOn) &&
              writeFile(dir / "expected_psk", "802-11-wireless-security.psk:" + options.expectedPassword + "\n");
    if (ok && options.associatedSsid) {
        ok = writeFile(dir / "associated", *options.associatedSsid);
    }
    auto fake = std::unique_ptr<FakeNmcli>(new FakeNmcli(folder, (dir / "nmcli").string()));
    if (!ok || ::chmod(fake->path_.c_str(), 0700) != 0) {
        return unexpected("could not write the fake nmcli into " + folder);
    }
    return fake;
}

FakeNmcli::~FakeNmcli() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string FakeNmcli::read(const char* name) const {
    std::ifstream in(std::filesystem::path(directory_) / name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> FakeNmcli::calls() const { return splitLines(read("calls")); }

int FakeNmcli::count(std::string_view prefix) const {
    int n = 0;
    for (const auto& call : calls()) {
        n += call.starts_with(prefix) ? 1 : 0;
    }
    return n;
}

std::string FakeNmcli::record() const { return read("calls"); }

std::vector<std::string> FakeNmcli::passwordFileChecks() const { return splitLines(read("psk_checks")); }

bool FakeNmcli::radioOn() const { return read("radio") == "enabled\n"; }

std::optional<std::string> FakeNmcli::activeSsid() const {
    if (!std::filesystem::exists(std::filesystem::path(directory_) / "active")) {
        return std::nullopt;
    }
    return read("active");
}

}  // namespace hollowkit

#include "tests/sources/sane/SaneScanimage.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

double Number(const SaneSettings& options, const char* name) {
    const std::string* text = options.Find(name);
    return text ? std::strtod(text->c_str(), nullptr) : 0;
}

}  // namespace

namespace SaneScanimage {

bool Available() { return std::system("scanimage --version >/dev/null 2>&1") == 0; }

std::string Arguments(const SaneSettings& options) {
    std::string arguments;
    for (const auto& [name, value] : options.InApplyOrder()) {
        std::string argument;
        if (name == "tl-x")
            argument = "-l " + Quoted(value);
        else if (name == "tl-y")
            argument = "-t " + Quoted(value);
        else if (name == "br-x")
            argument = "-x " + std::to_string(Number(options, "br-x") - Number(options, "tl-x"));
        else if (name == "br-y")
            argument = "-y " + std::to_string(Number(options, "br-y") - Number(options, "tl-y"));
        else
            argument = "--" + name + "=" + Quoted(value);
        arguments += " " + argument;
    }
    return arguments;
}

bool Scan(const std::string& device, const SaneSettings& options, DecodedImage* image,
          std::string* error) {
    char path[] = "/tmp/velomark-scanimage-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        *error = "no temporary file";
        return false;
    }
    close(fd);
    const std::string command = "scanimage -d " + Quoted(device) + " --format=pnm" +
                                Arguments(options) + " > " + path + " 2>" + path + ".err";
    const int status = std::system(command.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    std::ifstream errIn(std::string(path) + ".err");
    const std::string complaint((std::istreambuf_iterator<char>(errIn)),
                                std::istreambuf_iterator<char>());
    std::remove(path);
    std::remove((std::string(path) + ".err").c_str());
    if (status != 0) {
        *error = command + " failed: " + complaint;
        return false;
    }
    return DecodePnm(bytes, image, error);
}

}  // namespace SaneScanimage

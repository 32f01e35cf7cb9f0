// Reads every resource of an executable the way Windows does: loaded as an
// image resource data file, enumerated by type, name and language, each one
// found, sized and locked. Windows only (also built for the probe that the
// native tests run under Wine).
#ifndef KELVORN_TESTS_ICON_RESOURCE_DUMP_H
#define KELVORN_TESTS_ICON_RESOURCE_DUMP_H

#include <map>
#include <string>

// Key: "<type>/<name>/<language>", ids as decimal numbers and names as
// 'quoted' UTF-8 text, e.g. "3/1/0" or "10/'KVDATA'/1033". Value: the bytes.
typedef std::map<std::string, std::string> ResourceMap;

// 1 when the file could be loaded and enumerated.
int dump_resources(const std::string& utf8_path, ResourceMap* out);

// One resource by id through FindResourceW (language chosen by the loader).
// 1 when found.
int find_resource_by_id(const std::string& utf8_path, int type, int id, std::string* bytes);

// Text form: one line per resource, "<key> <hex bytes>".
std::string resource_map_text(const ResourceMap& map);
int parse_resource_map_text(const std::string& text, ResourceMap* out);

#endif

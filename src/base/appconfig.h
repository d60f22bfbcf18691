// The configuration interface: typed values under '/'-separated paths
// ("lang/current", "install/<package>"), on top of a store that an
// implementation supplies (sections and parameters as nodes behind opaque
// handles, values as bytes or as text).
//
// Every path component but the last names a section, nested to any depth;
// the last names the parameter.  A read never creates a node; every write
// creates the whole path.  Nothing throws (but the allocator's
// std::bad_alloc); failure is a false, null or 0 result.
//
// How typed values are stored:
//  - binary store (isTextConfig() false): integers as 2, 4 or 8
//    little-endian bytes, strings as their bytes without a terminator;
//  - text store: integers as decimal text ("%d", or "%lld" for 64 bits),
//    strings as they are.
#pragma once

#include "base/buffers.h"

class cApplicationConfig {
public:
    // ---- What the store provides ----------------------------------------

    // The root section.
    virtual void* rootContextHandle() = 0;
    // The child called name under parent; with create a missing child is
    // made.  Null when missing and not made, or when parent is null.
    virtual void* subContextHandle(char const* name, void* parent, bool create) = 0;
    // The byte length of the node's value; false when it has none.
    virtual bool getParamValueSize(void* handle, long long& size) = 0;
    // Binary store: exactly size bytes of the node's value into buf.
    virtual bool getParamValue(void* buf, long long size, void* handle);
    // Binary store: the size bytes become the node's value.
    virtual bool setParamValue(void const* data, long long size, void* handle);
    // Text store: the node's value as text.
    virtual bool getParamValue(_guardchar<char>& text, void* handle);
    // Text store: the value from text (length -1: up to the terminator).
    virtual bool setParamValue(const char* text, long long length, void* handle);
    virtual bool isTextConfig() = 0;
    virtual bool newConfig(const char* name);
    virtual bool openConfig(const char* name) = 0;
    virtual bool saveConfig();
    virtual bool saveConfigAs(const char* name);
    virtual bool discardChanges();

    // ---- Typed access, built on the above (a store may override) --------

    // value := the node's bytes (empty for a value of length 0).  False, and
    // value empty, when there is no node or value.
    virtual bool getParam(char const* path, _typebuf<unsigned char>& value);
    // Binary store: a value of 1 to 8 bytes, zero-extended.  Text store: a
    // decimal number (a leading '-' gives its two's complement) or "0x" and
    // hexadecimal digits, blanks around it allowed; false for anything else,
    // and for a number that 64 bits cannot hold.  value is untouched when
    // there is no node.
    virtual bool getParamInt(char const* path, unsigned long long& value);
    virtual bool getParamStr(char const* path, _guardchar<char>& value);
    // The low 16, 32 or 64 bits of getParamInt; 0 when it fails.
    virtual short getParamInt16(char const* path);
    virtual int getParamInt32(char const* path);
    virtual long long getParamInt64(char const* path);
    // Binary stores only: a text store refuses raw bytes.
    virtual bool setParam(char const* path, void const* data, long long size);
    virtual bool setParamInt16(char const* path, int value);
    virtual bool setParamInt32(char const* path, int value);
    virtual bool setParamInt64(char const* path, long long value);
    // length -1: up to the terminator.
    virtual bool setParamStr(char const* path, const char* text, long long length);

    // ---- Sections (the store provides these; the defaults answer false) --

    // Removes the node at path with everything under it.
    virtual bool removeSection(char const* path);
    // Whether a node exists at path.
    virtual bool hasSection(char const* path);
    // Calls callback with the name of each direct child of the node at path,
    // in the store's order of names, until it answers false.
    virtual bool enumSubsections(char const* path, bool (*callback)(char const* name, void* arg), void* arg);

    virtual ~cApplicationConfig();

    // The node at path: null or empty path is the root; otherwise the path
    // is cut at each '/' and walked from the root with subContextHandle.
    // Components are taken as they stand: "a//b" asks for an empty name.
    virtual void* getPathContextHandle(char const* path, bool create);
};

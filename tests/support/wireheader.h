// The header size of both datagram layouts, as the tests write it: not the device link's
// own constant, so that the bytes a test checks come from an independent copy.
#pragma once

constexpr int kHeaderSize = 11;

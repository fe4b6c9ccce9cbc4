// A module that carries nothing but resources, and one symbol by which a
// test finds its handle.
extern "C" __attribute__((visibility("default"))) int UdmSampleAnchor() { return 7; }

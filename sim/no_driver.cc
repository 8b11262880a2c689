// Carries a driver library's file name and none of its calls. Put on the loader's path as
// libftdi1, it hides the system's own, so that the tool meets a machine with no usable driver
// library at all; as FTD2XX.dll, it is a vendor's library that lacks the calls the tool binds.

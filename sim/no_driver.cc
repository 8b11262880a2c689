// Carries libftdi1's file name and none of its calls. Put on the loader's path, it hides the
// system's own libftdi1, so that the tool meets a machine with no usable driver library at all.

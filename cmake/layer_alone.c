/* A layer linked on its own: see quillnet_layer in sources.cmake. */
int quillnet_layer_alone;

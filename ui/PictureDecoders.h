#pragma once

// The image decoders the preview needs: PNG, JPEG and GIF, the formats a thumbnail comes in
// (the toolkit has no WebP decoder). Not every decoder the toolkit has: the picture comes from
// the network, and a rarely used one (PNM with a maximum of 0) ends the process on a few bytes.
// Later calls add nothing.
void RegisterPictureDecoders();

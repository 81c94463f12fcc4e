// Hollin stand-in

// Tamsin stand-in

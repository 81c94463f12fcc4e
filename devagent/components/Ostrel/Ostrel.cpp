// Ostrel stand-in

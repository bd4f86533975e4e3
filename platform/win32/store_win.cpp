// Placeholder: the settings store backend is being written.

// The plug-in module: everything, including the entry points that moc
// generates for ZorvaniInterface, comes from the `zorvani` library, which is
// linked whole into this module.

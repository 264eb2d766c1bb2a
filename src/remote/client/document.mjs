// Conversions between the editable page and the block document.

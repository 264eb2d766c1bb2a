// Measures on screenshots, through ImageMagick.
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { artifactDir } from './obs.mjs';

const magick = (...args) => execFileSync('convert', args, { encoding: 'utf8' });

// Mean brightness of an image, 0 (black) to 1 (white).
export const brightness = (file) => Number(magick(file, '-colorspace', 'Gray', '-format', '%[fx:mean]', 'info:'));

// Share of the picture painted in one colour (within a small tolerance).
export const colourShare = (file, colour) => Number(magick(file, '-fuzz', '6%', '-fill', 'black', '+opaque', colour,
  '-fill', 'white', '-opaque', colour, '-colorspace', 'Gray', '-format', '%[fx:mean]', 'info:'));

export function crop(file, { x, y, width, height }, name = `${path.basename(file, '.png')}-${width}x${height}.png`) {
  const out = path.join(artifactDir, name);
  magick(file, '-crop', `${width}x${height}+${x}+${y}`, '+repage', out);
  return out;
}

// Root-mean-square difference of two images, 0 (same) to 1: of an area of both, or of the first
// mirrored (flop: left to right, flip: top to bottom). coarse: compared at a quarter size, as the
// browser may place a flipped odd-sized box half a pixel off.
export function difference(a, b, { area = null, flop = false, flip = false, coarse = false } = {}) {
  let [first, second] = area ? [crop(a, area), crop(b, area)] : [a, b];
  if (flop || flip || coarse) {
    const out = first.replace(/\.png$/, '-mirrored.png');
    magick(first, ...(flop ? ['-flop'] : []), ...(flip ? ['-flip'] : []), ...(coarse ? ['-resize', '25%'] : []), out);
    first = out;
  }
  if (coarse) {
    const out = second.replace(/\.png$/, '-coarse.png');
    magick(second, '-resize', '25%', out);
    second = out;
  }
  try {
    execFileSync('compare', ['-metric', 'RMSE', first, second, 'null:'], { stdio: 'pipe' });
    return 0;
  } catch (e) {
    return Number(/\(([\d.e-]+)\)/.exec(String(e.stderr))[1]);
  }
}

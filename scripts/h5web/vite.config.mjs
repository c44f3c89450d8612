import { defineConfig } from 'vite';
import react from '@vitejs/plugin-react';

// The HDF5 file is copied into public/ by render-h5web.sh and served as is.
export default defineConfig({
  plugins: [react()],
  logLevel: 'warn',
  build: { chunkSizeWarningLimit: 8000 },
  preview: { host: '127.0.0.1', strictPort: true },
});
